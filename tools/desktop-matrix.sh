#!/usr/bin/env bash
# The desktop matrix, for developers (not CI): the real game started N times under each window
# manager installed (openbox, mutter, kwin_x11, xfwm4, metacity, icewm, fluxbox, and none), then
# scaled twice over under openbox (QT_SCALE_FACTOR=2, QT_SCREEN_SCALE_FACTORS=2) and with openbox
# and xfwm4 stopped for 2 s while the game starts; each start in a private Xvfb beside busy
# loops. Per start it prints where the frame showed first and where it stayed, how long after
# the window manager told the frame it stood in place, the notice's frame centre, and a computer
# solve pinged every 0.5 s with a click and a close made during it (the close must wait for the
# end, then exit 0; the player plays the first three quarters of the way by hand, the computer
# the rest); then a table. Its program is tools/desktop-matrix/desktop_matrix.cpp.
#
#   tools/desktop-matrix.sh [-n STARTS] [-l LOOPS] [-g GAME] [CASE ...]
#
# A CASE is a window manager, alone or with :scale2, :screen2 or :stall after it. Defaults: 8
# starts, 2 busy loops, the game of build/release. A start takes about a minute. Window
# managers: apt-get install openbox mutter kwin-x11 kwin-style-breeze xfwm4 metacity icewm
# fluxbox (KWin draws no frame without a decoration such as Breeze).
set -euo pipefail
cd "$(dirname "$0")/.."
starts=8
loops=2
game=()
while getopts "n:l:g:" option; do
    case $option in
        n) starts=$OPTARG ;;
        l) loops=$OPTARG ;;
        g) game=(--game "$(realpath "$OPTARG")") ;;
        *) sed -n '2,17p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
[[ -f build/release/CMakeCache.txt ]] || cmake --preset release >/dev/null
cmake --build --preset release -j2 --target koma-desktop-matrix koma >/dev/null
exec build/release/tools/desktop-matrix/koma-desktop-matrix --starts "$starts" --loops "$loops" \
    "${game[@]}" "$@"
