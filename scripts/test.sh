#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Installs what is missing first.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja
cmake --build "$build"
status=0
(cd "$build" && ctest --output-on-failure) || status=$?
WINEPREFIX="$PWD/$build/wineprefix" wineserver -k 2>/dev/null || true
exit $status
