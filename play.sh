#!/usr/bin/env bash
# Installs what is missing, builds the game (without its tests) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake --preset play >/dev/null
cmake --build --preset play -j"$(nproc)"
# The game looks for its music and fanfare in the folder it is started in.
cd build/play && exec ./koma
