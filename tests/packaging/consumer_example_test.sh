#!/bin/sh
# consumer_example_test.sh <native tool build> <example project> <setup program> <wine prefix> <wine runner>
#                          <vendor view probe>
# Makes the Debian package from the native build of drelix-pack, unpacks it into a root of its own,
# builds the example product against that root alone and runs its installer under Wine: it must hand
# the archive to the setup program, end with 0 and leave nothing beside itself. Windows' version API
# must return the example's texts exactly as its CMakeLists.txt writes them.
set -eu
native=$1 example=$2 setup=$3 prefix=$4 runner=$5 probe=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$native" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack could not make the package"
dpkg-deb -x "$work"/package/drelix-pack_*.deb "$work/root"

# Only the unpacked root: no tree of ours on the search path.
cmake -S "$example" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" \
  -DTINY_PRODUCT_SETUP="$setup" >"$work/configure.txt" 2>&1 || { cat "$work/configure.txt"; fail "configuring the example"; }
grep -q "$work/root/usr/bin/drelix-pack" "$work/build/build.ninja" || fail "the example does not pack with the unpacked tool"
cmake --build "$work/build" >"$work/build.txt" 2>&1 || { cat "$work/build.txt"; fail "building the example"; }

WINEPREFIX=$prefix "$runner" "$probe" "$work/build/tiny_product_installer.exe" | tr -d '\r' >"$work/view.txt" ||
  { cat "$work/view.txt"; fail "the version API reads no version block"; }
for expected in 'version API ProductName=Tiny Product' 'version API CompanyName=Tiny "Products" Ltd.' \
  'version API FileDescription=-- Tiny Product setup --' \
  'version API LegalCopyright=Copyright 2026 Tiny Products Ltd.; all rights reserved' \
  'version API ProductVersion=1.0-preview' 'version API OriginalFilename=tiny_product_installer.exe'; do
  grep -qxF -- "$expected" "$work/view.txt" || { cat "$work/view.txt"; fail "expected \"$expected\""; }
done

mkdir "$work/run"
cp "$work/build/tiny_product_installer.exe" "$work/run/"
code=0
(cd "$work/run" && SAMPLE_SETUP_RECORD="$work/record.txt" SAMPLE_SETUP_EXIT_CODE=0 WINEPREFIX=$prefix \
  "$runner" tiny_product_installer.exe) || code=$?
[ "$code" -eq 0 ] || fail "the installer ended with $code"
grep -q 'install-archive=.*DRELIX.PACKED.7Z' "$work/record.txt" || { cat "$work/record.txt"; fail "the setup program did not get the archive"; }
[ "$(ls "$work/run")" = "tiny_product_installer.exe" ] || fail "the run left files behind: $(ls "$work/run")"
echo "installed package, example built and its installer ran: exit 0, nothing left"
