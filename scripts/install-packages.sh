#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and this machine lacks.
set -eu
packages="cmake ninja-build g++ zlib1g-dev libssl-dev libz-mingw-w64-dev g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 gcab cabextract 7zip googletest openssl osslsigncode clang-format clang-tidy clangd $*"
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi
