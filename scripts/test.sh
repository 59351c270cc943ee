#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Installs what is missing first.
set -eu
cd "$(dirname "$0")/.."
packages="cmake ninja-build g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 gcab 7zip googletest"
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja
cmake --build "$build"
status=0
(cd "$build" && ctest --output-on-failure) || status=$?
WINEPREFIX="$PWD/$build/wineprefix" wineserver -k 2>/dev/null || true
exit $status
