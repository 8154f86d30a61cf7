#!/usr/bin/env bash
# Installs what is missing, builds KOMA with its tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh --tests
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
ctest --preset release -j"$(nproc)"
