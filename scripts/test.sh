#!/usr/bin/env bash
# Checks the format, lints the production code, builds everything and runs every test under Wine,
# then the packaging tool's checked tests, a short fuzz run and the release path (two release
# builds compared byte for byte).
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
# The packaging tool reads files it cannot trust: its unit tests and file-system cases once more
# under AddressSanitizer and UndefinedBehaviorSanitizer, then a minute of fuzzing its entry points of untrusted bytes.
sanitized=$(cd "$build" && pwd)/packager-sanitized
stub=$(cd "$build" && pwd)/bin/installer_stub.exe
cmake -S packager -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
  -DDRELIX_PACK_STUB="$stub" -DDRELIX_PACK_TESTS=ON -DDRELIX_PACK_SANITIZE=ON >/dev/null
cmake --build "$sanitized"
"$sanitized/drelix_pack_tests" --gtest_brief=1 || status=$?
bash tests/packaging/file_system_cases.sh linux "$stub" "$sanitized/drelix-pack" || status=$?
BUILD_DIR=$build bash scripts/fuzz.sh 60 || status=$?
bash tests/packaging/release_test.sh "$build/release-check" || status=$?
WINEPREFIX="$PWD/$build/wineprefix" wineserver -k 2>/dev/null || true
exit $status
