#!/bin/sh
# tool_image_test.sh <wine prefix> <wine runner> <drelix-pack.exe>
# drelix-pack.exe read by itself: hardened as the installer is (every check of its --inspect line
# but the signature, which is the vendor's to add) and with a version block that names the tool, its
# --version and its licence.
set -eu
prefix=$1 runner=$2 tool=$3
fail() { echo "FAIL: $*"; exit 1; }
export WINEPREFIX="$prefix"
report=$("$runner" "$tool" --inspect "$tool" | tr -d '\r') || true
version=$("$runner" "$tool" --version | tr -d '\r' | sed 's/^drelix-pack //')
expect() { printf '%s\n' "$report" | grep -qxF "$1" || { printf '%s\n' "$report"; fail "no line \"$1\""; }; }
expect "hardening: ASLR yes, high-entropy VA yes, NX yes, CFG yes, CET yes, DependentLoadFlags 0x0800 (system32), stack cookie yes"
expect "version text: ProductVersion=\"$version\""
expect "version text: FileVersion=\"$version\""
expect "version text: OriginalFilename=\"drelix-pack.exe\""
printf '%s\n' "$report" | grep -q '^version text: LegalCopyright=".*zlib licence"$' || fail "no licence in the version block"
echo "drelix-pack.exe $version: hardened, its version block names it"
