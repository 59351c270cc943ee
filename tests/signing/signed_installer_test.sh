#!/bin/sh
# signed_installer_test.sh <signed installer> <certificate> <wine prefix> <wine runner> <description>
# The signature verifies against the certificate, carries the expected description, breaks when one
# payload byte changes, and the signed installer still runs to success and leaves nothing beside
# itself.
set -eu
installer=$1 certificate=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

osslsigncode verify -CAfile "$certificate" -in "$installer" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log"; echo "FAIL: the signed installer does not verify"; exit 1; }
grep -qxF "	Text description: $5" "$work/verify.log" ||
  { cat "$work/verify.log"; echo "FAIL: the signature's description is not \"$5\""; exit 1; }

# Change one byte of the product archive inside the signed file.
cp "$installer" "$work/tampered.exe"
offset=$(grep -obUa "a changed byte here" "$work/tampered.exe" | head -1 | cut -d: -f1)
[ -n "$offset" ] || { echo "FAIL: the payload is not in the signed installer"; exit 1; }
printf 'A' | dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
if osslsigncode verify -CAfile "$certificate" -in "$work/tampered.exe" >"$work/tampered.log" 2>&1; then
  echo "FAIL: a changed payload byte still verifies"; exit 1
fi
grep -q "MISMATCH" "$work/tampered.log" || { cat "$work/tampered.log"; echo "FAIL: the digest was not what failed"; exit 1; }

mkdir "$work/run"
cp "$installer" "$work/run/installer.exe"
code=0
(cd "$work/run" && SAMPLE_SETUP_EXIT_CODE=0 WINEPREFIX=$3 "$4" installer.exe) || code=$?
[ "$code" -eq 0 ] || { echo "FAIL: the signed installer ended with $code"; exit 1; }
[ "$(ls "$work/run")" = "installer.exe" ] || { ls -la "$work/run"; echo "FAIL: the run left files behind"; exit 1; }
echo "signature verifies, covers the payload, and the signed installer runs"
