#!/bin/sh
# pack_refusal_case.sh <expected exit code> <expected message> <drelix-pack command and arguments>...
# Runs one refused pack in a directory of its own (with small inputs, good and bad, and a folder, made here): it must end with the expected exit code and say
# the expected message on one line, and leave no output or temporary file beside its inputs.
set -eu
. "$(cd "$(dirname "$0")" && pwd)/test_inputs.sh"
expected_code=$1 expected_message=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
write_7z archive.7z
write_program setup.exe
printf 'This text file stands where a setup program should be; it is no program at all.\n' >not_a_program.txt
: >empty.bin
printf 'not an icon\n' >not_icon.ico
printf '\000\000\001\000\000\000' >no_images.ico
# One 16x16 32-bit bitmap whose pixels are cut short after 10 bytes.
{ printf '\000\000\001\000\001\000\020\020\000\000\001\000\040\000\062\000\000\000\026\000\000\000'
  printf '\050\000\000\000\020\000\000\000\040\000\000\000\001\000\040\000'
  head -c 34 /dev/zero; } >cut_short.ico
mkdir somedir
truncate -s 4294967296 huge.bin
truncate -s 2147483648 windows_huge.bin
inputs=$(ls)

code=0
"$@" >stdout.txt 2>stderr.txt || code=$?
tr -d '\r' <stderr.txt >message.txt
rm stdout.txt stderr.txt
[ "$code" -eq "$expected_code" ] || { cat message.txt; echo "FAIL: exit code $code, expected $expected_code"; exit 1; }
[ "$(wc -l <message.txt)" -eq 1 ] || { cat message.txt; echo "FAIL: the message is not one line"; exit 1; }
grep -qF -- "$expected_message" message.txt || { cat message.txt; echo "FAIL: expected \"$expected_message\""; exit 1; }
rm message.txt
[ "$(ls)" = "$inputs" ] || { ls -la; echo "FAIL: the refused pack left files behind"; exit 1; }
echo "refused as expected"
