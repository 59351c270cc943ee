#!/usr/bin/env bash
# Checks the format, lints the production code, builds everything and runs every test under Wine.
# Installs what is missing first. The first check that fails ends the run.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
build=${BUILD_DIR:-build}
bash scripts/format.sh --check
cmake -S . -B "$build" -G Ninja
BUILD_DIR=$build bash scripts/lint.sh
cmake --build "$build"
status=0
(cd "$build" && ctest --output-on-failure) || status=$?
WINEPREFIX="$PWD/$build/wineprefix" wineserver -k 2>/dev/null || true
exit $status
