#!/usr/bin/env bash
# Builds the release packages into dist/: the Debian package of the Linux drelix-pack (with its
# documents and the CMake package DrelixBootstrap), the .zip of drelix-pack.exe with its documents,
# and SHA256SUMS of both. Two runs on one commit give the same bytes, whatever their build
# directories: every packaged file carries the time of the last commit, and the tools themselves
# are built without timestamps or build paths.
# Builds in build-release/ (override with BUILD_DIR=...), apart from the development build.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
build=${BUILD_DIR:-build-release}
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
# The zip stores local times, and tools sort and name by locale: fix both.
export TZ=UTC LC_ALL=C
umask 022
# The packages need only the tools, not the whole build that installing would otherwise make first.
cmake -S . -B "$build" -G Ninja -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --target drelix-pack drelix_pack_native
staging=$(cd "$build" && pwd)/release-packages
rm -rf "$staging"
(cd "$build/packager-native" && cpack -G DEB -B "$staging")
(cd "$build" && cpack -G ZIP -B "$staging")
rm -rf dist
mkdir dist
cp "$staging"/drelix-pack_*.deb "$staging"/drelix-pack-*.zip dist/
(cd dist && sha256sum -- * >SHA256SUMS)
cat dist/SHA256SUMS
