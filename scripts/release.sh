#!/usr/bin/env bash
# Builds the release into dist/ (DIST_DIR=... to choose): the Debian package of the Linux
# drelix-pack (with its manual page, documents and the CMake package DrelixBootstrap), the .zip of
# drelix-pack.exe laid out the same way, the symbols of drelix-pack.exe and of the installer it
# carries (drelix-pack.pdb, installer_stub.pdb), and SHA256SUMS of them all. Only what ships is built:
# no test, no GoogleTest, no fuzz library. The version is the source history's (cmake/SourceVersion.cmake):
# "X.Y.Z" on a commit tagged vX.Y.Z.
# Two runs on one commit give the same bytes, whatever their build directories, umask or time zone:
# every packaged file carries the time of the last commit, and the tools themselves are built
# without timestamps or build paths.
# Builds in build-release/ (override with BUILD_DIR=...), apart from the development build.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh --release
build=${BUILD_DIR:-build-release}
dist=${DIST_DIR:-dist}
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
# The zip stores local times, and tools sort and name by locale: fix both.
export TZ=UTC LC_ALL=C
umask 022
# The packages need only the tools, not the whole build that installing would otherwise make first.
cmake -S . -B "$build" -G Ninja -DDRELIX_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --target drelix-pack drelix_pack_native
staging=$(cd "$build" && pwd)/release-packages
rm -rf "$staging"
(cd "$build/packager-native" && cpack -G DEB -B "$staging")
(cd "$build" && cpack -G ZIP -B "$staging")
# Debian's own checks: no error and no warning.
lintian --pedantic --display-experimental --fail-on error,warning "$staging"/drelix-pack_*.deb
rm -rf "$dist"
mkdir -p "$dist"
cp "$staging"/drelix-pack_*.deb "$staging"/drelix-pack-*.zip "$build/bin/drelix-pack.pdb" "$build/bin/installer_stub.pdb" "$dist/"
(cd "$dist" && sha256sum -- * >SHA256SUMS)
cat "$dist/SHA256SUMS"
