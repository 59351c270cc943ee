#!/bin/sh
# reproducible_dates_test.sh <drelix-pack command>...
# The cabinet stores the setup program's date: two packs of the same inputs whose files differ only
# in modification time must differ without SOURCE_DATE_EPOCH (or this test shows nothing) and be
# byte-identical with one SOURCE_DATE_EPOCH. A malformed value is refused, leaving nothing behind.
set -eu
. "$(cd "$(dirname "$0")" && pwd)/test_inputs.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
write_7z archive.7z
write_program setup.exe

# Each pack goes to <name>/installer.exe: the installer's version block names the file it was
# packed as, so only the folders differ.
pack() {  # <file time> <name> <SOURCE_DATE_EPOCH or "unset"> <command>...
  time=$1 output=$2/installer.exe epoch=$3
  mkdir -p "$2"
  shift 3
  touch -d "$time" archive.7z setup.exe
  if [ "$epoch" = unset ]; then
    env -u SOURCE_DATE_EPOCH "$@" --archive archive.7z --setup setup.exe --output "$output"
  else
    env SOURCE_DATE_EPOCH="$epoch" "$@" --archive archive.7z --setup setup.exe --output "$output"
  fi
}

pack "2020-01-01 10:00:00 UTC" plain_a unset "$@" || fail "packing ended with $?"
pack "2024-06-30 22:30:00 UTC" plain_b unset "$@" || fail "packing ended with $?"
! cmp -s plain_a/installer.exe plain_b/installer.exe || fail "without SOURCE_DATE_EPOCH the file times do not reach the installer"

pack "2020-01-01 10:00:00 UTC" fixed_a 1700000000 "$@" || fail "packing ended with $?"
pack "2024-06-30 22:30:00 UTC" fixed_b 1700000000 "$@" || fail "packing ended with $?"
cmp fixed_a/installer.exe fixed_b/installer.exe || fail "one SOURCE_DATE_EPOCH gave two installers"
! cmp -s fixed_a/installer.exe plain_a/installer.exe || fail "SOURCE_DATE_EPOCH did not replace the file time"
# Empty means unset, as with the file time.
pack "2020-01-01 10:00:00 UTC" empty "" "$@" || fail "packing ended with $?"
cmp empty/installer.exe plain_a/installer.exe || fail "an empty SOURCE_DATE_EPOCH is not taken as unset"

rm -r plain_a plain_b fixed_a fixed_b empty
for malformed in -1 +5 1.5 12abc " 1" 99999999999999999999; do
  code=0
  pack "2020-01-01 10:00:00 UTC" out "$malformed" "$@" 2>message.txt || code=$?
  [ "$code" -eq 1 ] || fail "SOURCE_DATE_EPOCH=\"$malformed\" ended with $code, expected 1"
  grep -q "SOURCE_DATE_EPOCH .* must be a whole number of seconds since 1970" message.txt ||
    { cat message.txt; fail "no message for SOURCE_DATE_EPOCH=\"$malformed\""; }
  [ "$(ls | tr '\n' ' ')" = "archive.7z message.txt out setup.exe " ] && [ -z "$(ls out)" ] || fail "SOURCE_DATE_EPOCH=\"$malformed\" left files: $(ls)"
done
echo "same SOURCE_DATE_EPOCH, same bytes; malformed values refused"
