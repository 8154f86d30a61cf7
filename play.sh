#!/usr/bin/env bash
# Installs what is missing, builds KOMA and starts it.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
# The game looks for its music and fanfare in the folder it is started in.
cd build/release && exec ./koma
