#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and this machine lacks: clang-19
# and lld-19 compile and link everything for Windows, against the MinGW-w64 headers, import libraries
# and (posix variant) libstdc++ of Debian's MinGW GCC packages; llvm-19 has llvm-readobj-19.
set -eu
packages="cmake ninja-build g++ dpkg-dev zlib1g-dev libssl-dev libz-mingw-w64-dev g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 gcab cabextract 7zip googletest openssl osslsigncode clang-format clang-tidy clangd clang-19 lld-19 llvm-19 libclang-rt-19-dev unicode-data python3 python3-jsonschema $*"
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
