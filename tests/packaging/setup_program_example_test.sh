#!/bin/sh
# setup_program_example_test.sh <drelix-pack> <setup-program.md> <version 1 setup> <delta to version 2>
#                               <wine prefix> <wine runner>
# A patch installer made from the shipped setup-program.md alone: its step-by-step example is
# followed as written. Version 1 of the sample setup program is installed where the example puts
# it and registered with the example's own `reg add` line; the patch installer is packed with the
# example's own drelix-pack line (the sample setup program's delta as setup.patch). Run as the
# example says, it must have the installed setup program rebuild setup.exe and the new one install
# the archive, with exactly the command lines the document gives, and end with 0.
set -eu
tool=$1 document=$2 version_1=$3 delta=$4 prefix=$5 runner=$6
work=$(mktemp -d)
export WINEPREFIX="$prefix"
installed_folder="$prefix/drive_c/Apps/Product/1.0.0"
cleanup() {
  "$runner" reg delete 'HKCU\Software\Zarvelo' /reg:32 /f >/dev/null 2>&1 || true
  rm -rf "$work" "$prefix/drive_c/Apps" "$prefix"/drive_c/users/*/AppData/Local/Zarvelo/Drelix/2.0.0
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The document's lines, as a reader would copy them.
pack_line=$(sed -n 's/^ *\(drelix-pack --archive product-2.0.0.7z .*\)$/\1/p' "$document")
register_line=$(sed -n 's/^ *\(reg add HKCU.*\)$/\1/p' "$document")
[ -n "$pack_line" ] || fail "setup-program.md has no drelix-pack line for the patch installer"
[ -n "$register_line" ] || fail "setup-program.md has no reg add line"

mkdir -p "$installed_folder"
cp "$version_1" "$installed_folder/setup.exe"
# A line for the Windows command prompt, run as a batch file so that only its own quoting applies.
cd "$work"
printf '%s\r\n' "$register_line" >register.cmd
"$runner" cmd /c register.cmd >/dev/null 2>&1 || fail "the example's registration failed: $register_line"
printf 'version 2 of the product' >product-2.0.0.7z
cp "$delta" setup.patch
eval "set -- $pack_line"
shift  # "drelix-pack"
"$tool" "$@" || fail "the example's pack command failed: $pack_line"
[ -f product-2.0.0-patch.exe ] || fail "the example's pack command wrote no product-2.0.0-patch.exe"

mkdir run
cp product-2.0.0-patch.exe run/
code=0
(cd run && SAMPLE_SETUP_RECORD="$work/record.txt" "$runner" product-2.0.0-patch.exe) || code=$?
[ "$code" -eq 0 ] || { cat record.txt 2>/dev/null || true; fail "the patch installer ended with $code"; }
tr -d '\r' <record.txt | grep '^command_line=' >command_lines.txt
patch_run='^command_line="C:\\Apps\\Product\\1\.0\.0\\setup\.exe" --update-setup-exe="[A-Z]:\\.*\\QV_[0-9A-F]\{5\}\.tmp\\SETUP\.PATCH" --new-setup-exe="[A-Z]:\\.*\\QV_[0-9A-F]\{5\}\.tmp\\setup\.exe"$'
install_run='^command_line="[A-Z]:\\.*\\QV_[0-9A-F]\{5\}\.tmp\\setup\.exe" --install-archive="[A-Z]:\\.*\\QV_[0-9A-F]\{5\}\.tmp\\DRELIX\.PACKED\.7Z" --previous-version="1\.0\.0"$'
sed -n 1p command_lines.txt | grep -q "$patch_run" || { cat command_lines.txt; fail "the patch run is not the documented one"; }
sed -n 2p command_lines.txt | grep -q "$install_run" || { cat command_lines.txt; fail "the install run is not the documented one"; }
[ "$(wc -l <command_lines.txt)" -eq 2 ] || { cat command_lines.txt; fail "not exactly two runs"; }
[ "$(ls run)" = "product-2.0.0-patch.exe" ] || fail "the run left files behind: $(ls run)"
echo "patch installer made from setup-program.md: patch run and install run as documented, exit 0"
