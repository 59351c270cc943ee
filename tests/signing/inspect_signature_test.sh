#!/bin/sh
# inspect_signature_test.sh <drelix-pack> <drelix-pack.exe> <wine prefix> <wine runner>
# Both tools check the same signed installers and must say the same of each, line for line, with
# the same exit code: a valid signature with and without a trust file (and a trust file of another
# CA), an RFC 3161 timestamp from osslsigncode's own authority, a changed archive byte, damaged
# certificate tables, a changed signed digest and signer signature, and an unsigned installer.
set -eu
. "$(cd "$(dirname "$0")/../packaging" && pwd)/test_inputs.sh"
linux_tool=$1 windows_tool=$2
export WINEPREFIX=$3
wine_run=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

quiet() { "$@" >/dev/null 2>&1 || { echo "FAIL: $*"; "$@"; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/O=Zarvelo/CN=Test Root CA" \
  -addext basicConstraints=critical,CA:TRUE -keyout ca.key -out ca.pem
quiet openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Other Root CA" -keyout other.key -out other.pem
printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n' >leaf.ext
printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=critical,timeStamping\n' >tsa.ext
quiet openssl req -newkey rsa:2048 -nodes -utf8 -subj "/C=DE/O=Zarvelo Software/CN=Zarvelo code signing" \
  -keyout leaf.key -out leaf.csr
quiet openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile leaf.ext -out leaf.pem
quiet openssl req -newkey rsa:2048 -nodes -subj "/CN=Test TSA" -keyout tsa.key -out tsa.csr
quiet openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile tsa.ext -out tsa.pem
cat tsa.pem ca.pem >tsa-chain.pem

write_7z archive.7z 'a product archive that the signature covers'
write_program setup.exe 'setup stand-in'
quiet "$linux_tool" --archive archive.7z --setup setup.exe --setup-form plain --output unsigned.exe
sign() { quiet osslsigncode sign -certs leaf.pem -key leaf.key -in unsigned.exe -out "$@"; }
sign signed.exe -h sha256
sign sha1.exe -h sha1
sign stamped.exe -h sha256 -TSA-certs tsa-chain.pem -TSA-key tsa.key -TSA-time 1700000000

# The certificate table's file offset, from its directory entry (PE header + 4 + 20 + 112 + 4 * 8).
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
table() { u32 "$1" $(($(u32 "$1" 60) + 168)); }
# patch FILE OFFSET OCTAL-BYTES: writes the bytes at the offset.
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
flip() { # flip FILE OFFSET: changes one bit of the byte there
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  patch "$1" "$2" "$(printf '\\%03o' $((byte ^ 1)))"
}

cp signed.exe tampered.exe
flip tampered.exe "$(grep -obUa "the signature covers" tampered.exe | head -1 | cut -d: -f1)"
cp signed.exe revision.exe
patch revision.exe $(($(table revision.exe) + 4)) '\000\001'
cp signed.exe garbage.exe
dd if=/dev/zero bs=1 count=64 status=none | tr '\000' 'Z' | dd of=garbage.exe bs=1 seek=$(($(table garbage.exe) + 8)) conv=notrunc status=none
# The SpcIndirectDataContent's digest: the first 32-byte OCTET STRING (04 20) of the table.
cp signed.exe content.exe
start=$(table content.exe)
digest=$(od -An -v -tx1 -j "$start" content.exe | tr -s ' \n' '  ' | sed 's/^ //' | awk '{for (i = 1; i < NF; i++) if ($i == "04" && $(i+1) == "20") { print i + 1; exit }}')
flip content.exe $((start + digest - 1 + 2))
# The signer's signature ends the SignedData: SEQUENCE 30 82 hi lo at the table's offset + 8.
cp signed.exe signer.exe
start=$(table signer.exe)
length=$(od -An -tu1 -j $((start + 10)) -N2 signer.exe | awk '{print $1 * 256 + $2}')
flip signer.exe $((start + 8 + 4 + length - 1))

failures=0
# check FILE EXPECTED-CODE EXPECTED-LINE [--trust FILE]: both tools, same lines, same code.
check() {
  file=$1 expected=$2 line=$3
  shift 3
  code=0
  "$linux_tool" --inspect "$file" "$@" >linux.txt 2>&1 || code=$?
  windows_code=0
  "$wine_run" "$windows_tool" --inspect "$file" "$@" >windows_raw.txt 2>&1 || windows_code=$?
  tr -d '\r' <windows_raw.txt >windows.txt
  if [ "$code" -ne "$expected" ] || ! grep -qxF -- "$line" linux.txt; then
    cat linux.txt
    echo "FAIL [$file $*]: the Linux tool exited $code (expected $expected) or did not say: $line"
    failures=$((failures + 1))
  elif [ "$windows_code" -ne "$code" ] || ! diff linux.txt windows.txt; then
    echo "FAIL [$file $*]: the Windows tool exited $windows_code or said otherwise (above)"
    failures=$((failures + 1))
  fi
}

check unsigned.exe 0 "signature: none"
check signed.exe 0 "signature chain: not checked (no --trust given)"
check signed.exe 0 'signature chain: verifies against "ca.pem"' --trust ca.pem
check signed.exe 4 'signature chain: fails against "other.pem": no chain to a certificate of the trust file' --trust other.pem
check sha1.exe 0 "signature chain: verifies against \"ca.pem\"" --trust ca.pem
check stamped.exe 0 "signature time: 2023-11-14 22:13:20 UTC (RFC 3161 timestamp, its signature not checked)"
check tampered.exe 4 "signature: fails: the image's digest does not match the signed one (certificate table of $(u32 tampered.exe $(($(u32 tampered.exe 60) + 172))) bytes)"
check revision.exe 4 "signature: fails: the certificate's wRevision is 0x0100, not 0x0200 (certificate table of $(u32 revision.exe $(($(u32 revision.exe 60) + 172))) bytes)"
check garbage.exe 4 "signature: fails: the certificate is not a PKCS #7 SignedData (certificate table of $(u32 garbage.exe $(($(u32 garbage.exe 60) + 172))) bytes)"
check content.exe 4 "signature: fails: the signer's messageDigest attribute does not match the signed content (certificate table of $(u32 content.exe $(($(u32 content.exe 60) + 172))) bytes)"
check signer.exe 4 "signature: fails: the signer's signature does not verify (certificate table of $(u32 signer.exe $(($(u32 signer.exe 60) + 172))) bytes)"
[ "$failures" -eq 0 ] || exit 1
echo "both tools say the same of every signed installer"
