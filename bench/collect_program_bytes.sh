#!/bin/sh
# Writes the first <bytes> bytes of Wine's own 64-bit DLLs, in name order, to <output>: real program
# code, which compresses as a setup program does, unlike random bytes.
set -eu
output=$1
bytes=$2
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
# head closing the pipe early is expected: cat's broken pipe is no error here.
{ for dll in $(ls "$dlls" | LC_ALL=C sort); do case $dll in *.dll) cat "$dlls/$dll" ;; esac; done; } 2>/dev/null \
  | head -c "$bytes" > "$output"
[ "$(wc -c < "$output")" -eq "$bytes" ]
