#!/usr/bin/env bash
# release_checks.sh <dist directory> <work directory>
# What a release must be that two runs on one machine cannot show by differing: the zip's members
# sorted, the Debian package's Installed-Size counted from its contents (as dpkg-gencontrol counts
# it), every packaged file readable by all, and the zip's CMake package found by a consumer with a
# C compiler of another pointer size.
set -eu
dist=$(cd "$1" && pwd)
work=$(mkdir -p "$2" && cd "$2" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
zip=$(ls "$dist"/drelix-pack-*-windows-x64.zip)
deb=$(ls "$dist"/drelix-pack_*_amd64.deb)
unzip -Z1 "$zip" | LC_ALL=C sort -c || fail "the zip's members are not sorted"

tree="$work/deb-tree"
rm -rf "$tree"
dpkg-deb -x "$deb" "$tree"
# A directory counts 1 KiB, a file its size in KiB rounded up.
counted=$(cd "$tree" && { find . -mindepth 1 -type d -printf '1\n'; find . -type f -printf '%s\n' |
  awk '{ print int(($1 + 1023) / 1024) }'; } | awk '{ total += $1 } END { print total }')
declared=$(dpkg-deb -f "$deb" Installed-Size)
[ "$counted" = "$declared" ] || fail "Installed-Size is $declared, the contents count $counted"
unreadable=$(dpkg-deb -c "$deb" | awk '$1 !~ /^-rw-r--r--$|^-rwxr-xr-x$|^drwxr-xr-x$/')
[ -z "$unreadable" ] || fail "Debian package members not readable by all: $unreadable"
unreadable=$(unzip -Z -l "$zip" | awk 'length($1) == 10 && $1 ~ /^[-d]/ && $1 !~ /^-rw-r--r--$|^-rwxr-xr-x$|^drwxr-xr-x$/')
[ -z "$unreadable" ] || fail "zip members not readable by all: $unreadable"

# Every document a shipped page names in backquotes (docs/X.md, X.json) ships beside it: a page a
# vendor cannot open is a contract they cannot keep.
missing_documents() {
  local page reference
  for page in "$1"/*.md; do
    grep -oE '`(docs/)?[A-Za-z0-9_.-]+\.(md|json)`' "$page" | tr -d '`' | sed 's|^docs/||' | sort -u |
      while IFS= read -r reference; do
        [ -e "$1/$reference" ] || echo "$(basename "$page") names $reference"
      done
  done
}

# A consumer with a 32-bit C compiler (compiling only: nothing is linked) finds the zip's package,
# whose version file the 64-bit build wrote, and is given its drelix-pack.exe.
unpacked="$work/zip-tree"
rm -rf "$unpacked" "$work/consumer" "$work/consumer-build"
mkdir -p "$unpacked" "$work/consumer"
(cd "$unpacked" && unzip -q "$zip")
cat >"$work/consumer/CMakeLists.txt" <<'CONSUMER'
cmake_minimum_required(VERSION 3.25)
project(PointerSizeConsumer LANGUAGES C)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR "the consumer is meant to be 32-bit, not ${CMAKE_SIZEOF_VOID_P} bytes")
endif()
find_package(DrelixBootstrap 1.0 CONFIG REQUIRED)
message(STATUS "drelix-pack: ${DRELIX_PACK_EXECUTABLE}")
CONSUMER
cmake -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$(ls -d "$unpacked"/*)" \
  -DCMAKE_C_COMPILER=clang-19 -DCMAKE_C_COMPILER_TARGET=i686-linux-gnu -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
  >"$work/consumer.txt" 2>&1 || { cat "$work/consumer.txt"; fail "a 32-bit consumer cannot use the zip's package"; }
grep -q "drelix-pack: .*/bin/drelix-pack.exe" "$work/consumer.txt" || { cat "$work/consumer.txt"; fail "the package does not name bin/drelix-pack.exe"; }
missing=$(missing_documents "$tree/usr/share/doc/drelix-pack"; missing_documents "$(ls -d "$unpacked"/*)/share/doc/drelix-pack")
[ -z "$missing" ] || fail "shipped documents name pages that do not ship: $missing"

echo "zip sorted; Installed-Size $declared as counted; modes readable by all; every page a document names ships; a 32-bit consumer finds the zip's package"
