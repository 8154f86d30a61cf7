#!/usr/bin/env bash
# clang-tidy over the game core, with the compile commands of a configured build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
[[ -f "$build/compile_commands.json" ]] || cmake --preset release >/dev/null
clang-tidy -p "$build" --quiet board/*.cpp solver/*.cpp
