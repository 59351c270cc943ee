#!/usr/bin/env bash
# Installs with apt-get whatever this machine lacks of what the build, the tests and the demo need,
# or with --release only what a release build needs (scripts/release.sh). clang-19 and lld-19
# compile and link everything for Windows, against the MinGW-w64 headers, import libraries and
# (posix variant) libstdc++ of Debian's MinGW GCC packages; llvm-19 has llvm-readobj-19 and the
# import library tools; lintian checks the Debian package. Further arguments are more packages.
set -eu
release="cmake ninja-build git g++ dpkg-dev zlib1g-dev libssl-dev libz-mingw-w64-dev g++-mingw-w64-x86-64 clang-19 lld-19 llvm-19 lintian"
development="mingw-w64-tools wine wine64 gcab cabextract 7zip googletest openssl osslsigncode clang-format clang-tidy clangd libclang-rt-19-dev unicode-data python3 python3-jsonschema"
if [ "${1:-}" = "--release" ]; then
  shift
  packages="$release $*"
else
  packages="$release $development $*"
fi
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
