#!/bin/sh
# same_report_test.sh <installers directory> <Linux drelix-pack> <Windows drelix-pack command>...
# Both tools give the same verdict on the same file: for every installer and payload fixture the
# build made, --inspect prints the same JSON document and the same text report (the Windows tool's
# line ends aside) and ends with the same exit code.
set -eu
installers=$1 linux=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$installers"
compared=0
for installer in *installer*.exe packaged_*.exe payload_*.dll; do
  [ -f "$installer" ] || continue
  for format in text json; do
    linux_code=0
    "$linux" --inspect "$installer" --format $format >"$work/linux" 2>&1 || linux_code=$?
    (
      code=0
      "$@" --inspect "$installer" --format $format 2>&1 || code=$?
      echo "$code" >"$work/windows_code"
    ) | tr -d '\r' >"$work/windows"
    windows_code=$(cat "$work/windows_code")
    cmp -s "$work/linux" "$work/windows" || { diff "$work/linux" "$work/windows" || true; fail "$installer: the $format reports differ"; }
    [ "$linux_code" = "$windows_code" ] || fail "$installer: exit codes $linux_code and $windows_code"
  done
  compared=$((compared + 1))
done
[ "$compared" -ge 5 ] || fail "only $compared installers were compared"
echo "the same text and JSON reports and exit codes for $compared installers"
