#!/bin/sh
# planted_bcrypt_test.sh <wine prefix> <wine runner> <drelix-pack.exe> <planted library>
# A bcrypt.dll or crypt32.dll planted beside drelix-pack.exe and in the folder it runs from (a CI
# workspace, a Downloads folder) must never run, while the tool still hashes with the system's own. Wine puts its
# own bcrypt.dll in place of any file unless told to load native ones, as Windows would: this run is
# told, and a probe first shows that Wine then runs a planted library it is asked to load.
set -eu
prefix=$1 runner=$2 tool=$3 planted=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
export WINEPREFIX="$prefix" WINE_EXTRA_DLL_OVERRIDES="bcrypt,crypt32=n,b"

mkdir "$work/probe" "$work/tool" "$work/current"
cp "$planted" "$work/probe/bcrypt.dll"
"$runner" rundll32.exe "Z:$work/probe/bcrypt.dll,Probe" >/dev/null 2>&1 || true
[ -f "$work/probe/bcrypt.dll.loaded" ] || fail "Wine does not load native bcrypt.dll files"

cp "$tool" "$work/tool/drelix-pack.exe"
for library in bcrypt crypt32; do
  cp "$planted" "$work/tool/$library.dll"
  cp "$planted" "$work/current/$library.dll"
done
printf 'archive' >"$work/current/archive.7z"
cp "$tool" "$work/current/setup.exe"
cd "$work/current"
"$runner" ../tool/drelix-pack.exe --archive archive.7z --setup setup.exe --setup-form plain --output packed.exe ||
  fail "packing failed"
code=0
"$runner" ../tool/drelix-pack.exe --inspect packed.exe >inspect.txt 2>&1 || code=$?
for place in "$work/tool" "$work/current"; do
  for library in bcrypt crypt32; do
    [ ! -f "$place/$library.dll.loaded" ] || fail "the $library.dll planted in $place was loaded"
  done
done
[ "$code" -eq 0 ] || { cat inspect.txt; fail "inspecting ended with $code"; }
# The digest of "archive", computed through the system's bcrypt.dll.
grep -q 'sha256=0eb3e36bfb24dcd9bb1d1bece1531216b59539a8fde17ee80224af0653c92aa3' inspect.txt ||
  { cat inspect.txt; fail "the archive was not hashed"; }
echo "planted bcrypt.dll and crypt32.dll beside the tool and in its folder: none loaded, the payload hashed"
