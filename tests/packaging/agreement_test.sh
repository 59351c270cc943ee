#!/bin/sh
# agreement_test.sh <wine prefix> <wine runner> <fixture_extraction.exe> <drelix-pack command>... -- <fixture module>...
# The installer and drelix-pack on one case list, the payload fixture modules: for each, the
# installer's own extraction runs under Wine (fixture_extraction.exe, which keeps what it wrote and
# tries to start the setup program), and drelix-pack must agree with it: --inspect's exit code and
# its "would fail with exit code N (Windows error E)" with the installer's outcome, and --extract
# must write byte for byte the files the installer wrote, or nothing when the installer's extraction
# fails.
set -u
prefix=$1 runner=$2 harness=$3
shift 3
tool=""
while [ "$1" != "--" ]; do tool="$tool '$1'"; shift; done
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL [$name]: $*"; failures=$((failures + 1)); }
drelix_pack() { eval "$tool" '"$@"'; }

for fixture in "$@"; do
  name=$(basename "$fixture" | sed 's/\..*//')
  mkdir "$work/$name" && cd "$work/$name" || exit 1
  cp "$fixture" installer.exe
  outcome=$(WINEPREFIX=$prefix "$runner" "$harness" "Z:$(echo "$work/$name/installer.exe" | tr / '\\')" \
    "Z:$(echo "$work/$name/QV_00000.tmp/" | tr / '\\')" </dev/null 2>/dev/null | tr -d '\r')
  set -- $outcome "$@"
  code=$1 error=$2 stage=$3
  shift 3
  [ -n "$stage" ] || { fail "the installer's extraction did not run"; continue; }

  inspected=0
  drelix_pack --inspect installer.exe >report.txt 2>/dev/null || inspected=$?
  tr -d '\r' <report.txt >report && rm report.txt
  if [ "$code" -eq 0 ]; then
    [ "$inspected" -eq 0 ] || fail "--inspect ended with $inspected, the installer with 0"
    grep -qx "extraction: would succeed" report || fail "--inspect does not expect success: $(grep -E '^(extraction|setup run):' report)"
  else
    [ "$inspected" -eq 1 ] || fail "--inspect ended with $inspected, the installer with $code"
    line=$([ "$stage" = extraction ] && echo extraction || echo "setup run")
    grep -q "^$line: would fail with exit code $code (Windows error $error)" report ||
      fail "the installer failed in $stage with $code ($error); --inspect said: $(grep -E '^(extraction|setup run):' report)"
  fi

  extracted=0
  drelix_pack --extract installer.exe --into extracted >/dev/null 2>message || extracted=$?
  if [ "$stage" = extraction ]; then
    [ "$extracted" -eq 1 ] || fail "--extract ended with $extracted where the installer's extraction failed"
    [ ! -e extracted ] || fail "--extract left $(ls extracted) where the installer's extraction failed"
  else
    [ "$extracted" -eq 0 ] || fail "--extract ended with $extracted: $(cat message)"
    diff -r QV_00000.tmp extracted >/dev/null || fail "--extract wrote $(ls extracted | tr '\n' ' '), the installer $(ls QV_00000.tmp | tr '\n' ' ')"
  fi
  echo "$name: installer $code ($error, $stage); --inspect $inspected, --extract $extracted"
done
cd / && [ "$failures" -eq 0 ]
