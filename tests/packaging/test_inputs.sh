# Inputs the packing tests give drelix-pack, sourced by their scripts (POSIX sh).
# write_program FILE [TEXT]: the smallest file the tool takes for a setup program (a DOS header
# pointing at "PE\0\0", an x86-64 COFF header and a zeroed PE32+ optional header), TEXT after it so
# that files can differ.
write_program() {
  {
    printf 'MZ'
    head -c 58 /dev/zero
    printf '\100\000\000\000PE\000\000\144\206'
    head -c 14 /dev/zero
    printf '\360\000\000\000\013\002'
    head -c 238 /dev/zero
    printf '%s' "${2:-}"
  } >"$1"
}
# write_7z FILE [TEXT]: the 7z signature, then TEXT: what the tool takes for a 7z archive.
write_7z() {
  { printf '7z\274\257\047\034'; printf '%s' "${2:-}"; } >"$1"
}
