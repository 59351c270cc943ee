#!/bin/sh
# sbom_test.sh <schema folder> <installers directory> <installer without payload> <Linux drelix-pack>
#              <Windows drelix-pack command>...
# What --sbom writes: for installers packed here in each setup form, an SBOM whose SHA-256s are
# those of the installer, the archive, the setup program and the installer without payload packed
# into; for every installer the build made, the SBOM --inspect writes, and the SBOMs the build wrote
# beside them (<installer>.cdx.json, a signed one's after signing); each one valid against the
# CycloneDX 1.6 schema, and the same bytes from both tools. No SBOM of an installer that would
# fail, and a write that fails leaves no file.
set -eu
schema=$1 installers=$2 stub=$3 linux=$4
shift 4
# The Windows tool's command, split at spaces when run: the build's paths hold none.
windows_command=$*
here=$(cd "$(dirname "$0")" && pwd)
. "$here/test_inputs.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
windows_tool() { $windows_command "$@"; }
digest() { sha256sum "$1" | cut -d' ' -f1; }
cd "$work"

# Both tools, run the same way, write the same SBOM; it is then checked as the Linux tool's.
both() {
  sbom=$1
  shift
  "$linux" "$@" --sbom "linux_$sbom" >/dev/null 2>>errors.txt || fail "$* --sbom (Linux) ended with $?"
  windows_tool "$@" --sbom "windows_$sbom" >/dev/null 2>>errors.txt || fail "$* --sbom (Windows) ended with $?"
  cmp -s "linux_$sbom" "windows_$sbom" || { diff "linux_$sbom" "windows_$sbom" || true; fail "$sbom differs by tool"; }
  mv "linux_$sbom" "$sbom"
  rm "windows_$sbom"
}

write_7z archive.7z archive
write_program setup.exe setup
printf 'a patch, as the installed setup program reads it\n' >setup.patch
cp "$stub" stub.exe
checked=""
for form in cabinet plain patch; do
  setup=setup.exe
  [ $form = patch ] && setup=setup.patch
  # The carried stub, and one given with --stub: the same bytes, as the build packs both.
  stub_option=""
  [ $form = plain ] && stub_option="--stub stub.exe"
  "$linux" --archive archive.7z --setup $setup --setup-form $form $stub_option --output $form.exe 2>/dev/null ||
    fail "packing the $form installer ended with $?"
  both $form.json --archive archive.7z --setup $setup --setup-form $form $stub_option --output $form.exe
  /usr/bin/python3 "$here/check_sbom.py" "$schema" $form.json >hashes.txt || fail "$form.json is not a valid SBOM"
  setup_reference=setup
  [ $form = cabinet ] && setup_reference=setup-program
  for expected in "installer $(digest $form.exe)" "archive $(digest archive.7z)" "$setup_reference $(digest $setup)" \
                  "installer-build $(digest stub.exe)"; do
    grep -qxF "$expected" hashes.txt || { cat hashes.txt; fail "$form.json lacks the hash: $expected"; }
  done
  checked="$checked $form.json"
done
# --inspect of the same installer lists the same but for the stub's hash, which it cannot know; so
# it is another document, with a serial number of its own.
both inspected.json --inspect cabinet.exe
/usr/bin/python3 "$here/check_sbom.py" "$schema" inspected.json >hashes.txt || fail "inspected.json is not valid"
! grep -q '^installer-build ' hashes.txt || fail "--inspect gave the installer build a hash"
/usr/bin/python3 -c 'import json, sys
packed, inspected = (json.load(open(name)) for name in sys.argv[1:])
del packed["components"][0]["hashes"]
assert packed.pop("serialNumber") != inspected.pop("serialNumber")
assert packed == inspected, (packed, inspected)' cabinet.json inspected.json || fail "--inspect's SBOM differs from packing's"

# Every installer the build made, as --inspect finds it: an SBOM when it would succeed, else none.
written=0
for installer in "$installers"/*installer*.exe "$installers"/packaged_*.exe "$installers"/payload_*.dll; do
  [ -f "$installer" ] || continue
  name=$(basename "$installer")
  cp "$installer" "$name"
  code=0
  "$linux" --inspect "$name" >/dev/null 2>&1 || code=$?
  if [ $code != 0 ]; then
    sbom_code=0
    "$linux" --inspect "$name" --sbom "$name.json" >/dev/null 2>errors.txt || sbom_code=$?
    [ $sbom_code = $code ] || fail "$name: --sbom changed the exit code from $code to $sbom_code"
    [ ! -e "$name.json" ] || fail "$name: an SBOM of an installer that would fail"
    grep -q "no SBOM is written" errors.txt || { cat errors.txt; fail "$name: no message"; }
  else
    both "$name.json" --inspect "$name"
    /usr/bin/python3 "$here/check_sbom.py" "$schema" "$name.json" >hashes.txt || fail "$name.json is not valid"
    grep -qxF "installer $(digest "$name")" hashes.txt || fail "$name.json: not the installer's SHA-256"
    checked="$checked $name.json"
    written=$((written + 1))
  fi
  rm "$name"
done
[ $written -ge 5 ] || fail "only $written installers had an SBOM"

# The SBOMs add_bootstrap_installer wrote, a signed installer's after signing: each of its installer.
made=0
for sbom in "$installers"/*.cdx.json; do
  [ -f "$sbom" ] || continue
  installer=${sbom%.cdx.json}.exe
  /usr/bin/python3 "$here/check_sbom.py" "$schema" "$sbom" >hashes.txt || fail "$sbom is not valid"
  grep -qxF "installer $(digest "$installer")" hashes.txt || fail "$sbom: not the SHA-256 of $installer"
  checked="$checked $(basename "$sbom")"
  made=$((made + 1))
done
[ $made -ge 2 ] || fail "only $made SBOMs from add_bootstrap_installer"

# A failed write leaves nothing: neither the installer nor the SBOM nor a temporary file.
mkdir refusals
cd refusals
cp ../archive.7z ../setup.exe .
mkdir folder
inputs=$(ls)
for case in "1|--sbom missing/x.json|cannot be written" "1|--sbom folder|is not a regular file" \
            "1|--sbom archive.7z|is a file the tool reads or writes" "1|--sbom ./out.exe|is the same file as --output" \
            "5|--sbom missing/x.json --inspect ../cabinet.exe|cannot be written" \
            "5|--sbom ../cabinet.exe --inspect ../cabinet.exe|is a file the tool reads or writes"; do
  expected=${case%%|*} rest=${case#*|}
  arguments=${rest%%|*} message=${rest#*|}
  case $arguments in *--inspect*) ;; *) arguments="--archive archive.7z --setup setup.exe --output out.exe $arguments" ;; esac
  for tool in "$linux" windows_tool; do
    code=0
    $tool $arguments >/dev/null 2>errors.txt || code=$?
    [ $code = "$expected" ] || { cat errors.txt; fail "$tool $arguments ended with $code, not $expected"; }
    grep -qF -- "$message" errors.txt || { cat errors.txt; fail "$tool $arguments: expected \"$message\""; }
    rm errors.txt
    [ "$(ls)" = "$inputs" ] || { ls -la; fail "$tool $arguments left files behind"; }
  done
done
echo "valid SBOMs with the files' hashes, the same from both tools:$checked"
