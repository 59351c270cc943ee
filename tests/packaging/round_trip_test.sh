#!/bin/sh
# round_trip_test.sh <wine prefix> <wine runner> <archive> <setup program> <reference installer> <drelix-pack command>...
# Packs the archive and the sample setup program (in a cabinet) with the given drelix-pack, checks
# the result is the reference installer byte for byte, that --inspect reports it whole, and that it
# installs under Wine: the sample setup program, installing machine-wide into a directory of this
# test, copies the archive it received and itself, which must be the inputs byte for byte.
set -eu
prefix=$1 runner=$2 archive=$3 setup=$4 reference=$5
shift 5
work=$(mktemp -d)
# The same file name as the reference: the installer's version block names the file it was packed as.
name=$(basename "$reference")
# The machine-wide install registers itself under the 32-bit view of HKLM; other tests expect that
# key absent, so it goes again afterwards unless it was there before.
machine_key='HKLM\Software\Wow6432Node\Zarvelo'
key_was_there=0
WINEPREFIX=$prefix "$runner" reg query "$machine_key" >/dev/null 2>&1 && key_was_there=1
remove_key() {
  [ "$key_was_there" -eq 1 ] || WINEPREFIX=$prefix "$runner" reg delete "$machine_key" /f >/dev/null 2>&1 || true
}
trap 'rm -rf "$work"; remove_key' EXIT
mkdir "$work/run" "$work/programs"
fail() { echo "FAIL: $*"; exit 1; }

"$@" --archive "$archive" --setup "$setup" --output "$work/run/$name" || fail "packing ended with $?"
[ "$(ls "$work/run")" = "$name" ] || fail "packing left other files: $(ls "$work/run")"
cmp "$work/run/$name" "$reference" || fail "the packed installer differs from $reference"

"$@" --inspect "$work/run/$name" | tr -d '\r' >"$work/inspect.txt" || { cat "$work/inspect.txt"; fail "inspect ended with $?"; }
cat "$work/inspect.txt"
archive_hash=$(sha256sum "$archive" | cut -d' ' -f1)
archive_size=$(stat -c %s "$archive")
grep -qx "resource: type=B7 name=DRELIX.PACKED.7Z language=1033 size=$archive_size sha256=$archive_hash" "$work/inspect.txt" ||
  fail "inspect does not show the archive with its size and digest"
grep -q "^resource: type=BL name=SETUP.EX_ language=1033 " "$work/inspect.txt" || fail "inspect does not show the cabinet"
grep -qx "setup form: cabinet" "$work/inspect.txt" || fail "inspect does not name the setup form"
grep -qx "extraction: would succeed" "$work/inspect.txt" || fail "inspect does not expect the extraction to succeed"

programs="Z:$(echo "$work/programs" | tr / '\\')"
code=0
(cd "$work/run" && SAMPLE_SETUP_PROGRAM_FILES=$programs WINEPREFIX=$prefix "$runner" "$name" --system-level) || code=$?
[ "$code" -eq 0 ] || fail "the installer ended with $code"
installed="$work/programs/Zarvelo/Drelix/1.0.0"
cmp "$installed/DRELIX.PACKED.7Z" "$archive" || fail "the installed archive differs from the input"
cmp "$installed/setup.exe" "$setup" || fail "the installed setup program differs from the input"
[ "$(ls "$work/run")" = "$name" ] || fail "the run left files behind: $(ls "$work/run")"
echo "packed, inspected, installed: archive and setup program arrived byte for byte"
