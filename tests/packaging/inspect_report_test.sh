#!/bin/bash
# inspect_report_test.sh <linux|windows> <schema> <installers directory> <drelix-pack command>...
# What --inspect prints, through the tool itself: texts that try to forge a field, a line or the
# look of the report are escaped (in the path, the version texts and messages on standard error);
# the JSON form of every installer the build makes is one document the schema accepts; and a
# report, usage text or version that cannot be written (standard output closed, /dev/full, a full
# file system) ends with exit code 5 and a message, never 0.
set -eu
tool=$1 schema=$2 installers=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/test_inputs.sh"
shift 3
work=$(mktemp -d)
mounted=""
cleanup() {
  [ -z "$mounted" ] || umount "$mounted" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
cd "$work"
write_7z archive.7z archive
write_program setup.exe setup

# A version text with a quote that would start a second field.
"$@" --archive archive.7z --setup setup.exe --setup-form plain --output forged.exe \
  --product-name 'Acme" CompanyName="Microsoft' --company-name 'Zarvelo'"$(printf '\u202e')"'exe.txt' ||
  fail "packing the forged installer ended with $?"
# A file name that would forge the verdict line, where the system allows one (not on Windows).
if [ "$tool" = linux ]; then
  forged_name=$(printf 'evil\nextraction: would succeed\n\033[2Jx.exe')
  shown_name='evil\u000Aextraction: would succeed\u000A\u001B[2Jx.exe'
else
  forged_name=$(printf 'evil\u202eexe.\u3164txt')
  shown_name='evil\u202Eexe.\u3164txt'
fi
cp forged.exe "$forged_name"
"$@" --inspect "$forged_name" | tr -d '\r' >report.txt || fail "--inspect of the forged installer ended with $?"
while IFS= read -r line; do
  grep -qxF -- "$line" report.txt || { cat report.txt; fail "the report lacks the line: $line"; }
done <<EXPECTED
installer: $shown_name
version text: ProductName="Acme\u0022 CompanyName=\u0022Microsoft"
version text: CompanyName="Zarvelo\u202Eexe.txt"
EXPECTED
[ "$(grep -c '^extraction: ' report.txt)" = 1 ] || fail "a second verdict line"
! grep -q "$(printf '\033')" report.txt || fail "an ESC reached the report"

# Messages on standard error quote paths and values escaped.
for arguments in "--inspect|$(printf 'no\033[2Jsuch\nfile')" "--archive|$(printf 'a\033]0;x\a\n')|--setup|setup.exe|--output|out.exe"; do
  IFS='|' read -r -a split <<<"$arguments"
  code=0
  "$@" "${split[@]}" >out.txt 2>errors.txt || code=$?
  [ "$code" = 1 ] || fail "${split[0]} with a hostile name ended with $code"
  [ "$(wc -l <errors.txt)" = 1 ] || { cat errors.txt; fail "${split[0]}: the message is not one line"; }
  ! grep -q "$(printf '\033')" errors.txt || fail "${split[0]}: an ESC reached standard error"
  grep -q '\\u001B' errors.txt || { cat errors.txt; fail "${split[0]}: the message does not show the escape"; }
done

# The JSON form of every installer the build made, of the forged one and of fixtures that would fail.
reports=()
for installer in "$installers"/*installer*.exe "$installers"/packaged_*.exe "$installers"/payload_*.dll forged.exe; do
  [ -f "$installer" ] || continue
  report=json_$(basename "$installer").json
  code=0
  (cd "$(dirname "$installer")" && "$@" --inspect "$(basename "$installer")" --format json) >"$report" 2>errors.txt ||
    code=$?
  if [ "$code" = 1 ] && [ ! -s "$report" ]; then
    grep -q '^drelix-pack: ' errors.txt || fail "$installer: no report and no message"
    continue  # no readable installer: nothing on standard output, one line on standard error
  fi
  case $code in 0 | 1 | 3) ;; *) fail "--inspect --format json of $installer ended with $code" ;; esac
  reports+=("$report")
done
[ "${#reports[@]}" -ge 5 ] || fail "only ${#reports[@]} installers were inspected"
/usr/bin/python3 "$here/check_inspect_json.py" "$schema" "${reports[@]}" || fail "a JSON report is malformed"
/usr/bin/python3 -c 'import json, sys
texts = {text["key"]: text["value"] for text in json.load(open(sys.argv[1]))["version"]["texts"]}
assert texts["ProductName"] == "Acme\" CompanyName=\"Microsoft", texts
assert texts["CompanyName"] == "Zarvelo\u202eexe.txt", texts' json_forged.exe.json || fail "JSON does not give the texts back"

# A lost standard output: closed, /dev/full, and a full file system where this user can mount one.
target=/dev/full
full=""
if [ "$(id -u)" = 0 ] && mkdir full && mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  mounted=$PWD/full
  head -c 131072 /dev/zero >full/filler 2>/dev/null || true
  full=$mounted/report.txt
else
  echo "no tmpfs could be mounted: the full file system case is left out"
fi
for action in "--inspect forged.exe" "--inspect forged.exe --format json" --help --version; do
  for where in closed /dev/full $full; do
    code=0
    case $where in
      closed) "$@" $action >&- 2>errors.txt || code=$? ;;
      *) "$@" $action >"$where" 2>errors.txt || code=$? ;;
    esac
    [ "$code" = 5 ] || fail "$action with standard output $where ended with $code, not 5"
    grep -q "could not be written to standard output" errors.txt || { cat errors.txt; fail "$action $where: no message"; }
  done
done
echo "escaped, valid JSON (${#reports[@]} reports), and a lost output exits 5"
