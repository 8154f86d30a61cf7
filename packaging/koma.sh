#!/bin/sh
# SPDX-License-Identifier: MIT
# The `koma` command. The game looks for its music and fanfare in the folder it is started in,
# so this starts it in the folder the package installs them to, as the menu entry does. To
# play your own koma.mid, start the game itself in a folder that holds one:
#   cd ~/my-music && /usr/libexec/koma/koma
prefix=$(dirname "$(dirname "$(readlink -f "$0")")")
cd "$prefix/share/games/koma" || exit 1
exec "$prefix/libexec/koma/koma" "$@"
