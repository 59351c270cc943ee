#!/usr/bin/env bash
# release_test.sh <work directory>
# The release path as CI runs it: scripts/release.sh twice, in two build directories, under
# different umasks and time zones, must give the same dist/ byte for byte; then release_checks.sh
# checks what two runs on one machine cannot show.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work/dist-a" "$work/dist-b"

(umask 077 && TZ=Pacific/Chatham BUILD_DIR="$work/release-a" DIST_DIR="$work/dist-a" bash "$root/scripts/release.sh") \
  >"$work/release-a.txt" 2>&1 || { tail -30 "$work/release-a.txt"; fail "the first release run failed"; }
(umask 022 && TZ=America/St_Johns BUILD_DIR="$work/release-b" DIST_DIR="$work/dist-b" bash "$root/scripts/release.sh") \
  >"$work/release-b.txt" 2>&1 || { tail -30 "$work/release-b.txt"; fail "the second release run failed"; }
diff -r "$work/dist-a" "$work/dist-b" || fail "two release runs differ"
(cd "$work/dist-a" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match the files"
for expected in drelix-pack.pdb installer_stub.pdb; do
  [ -f "$work/dist-a/$expected" ] || fail "no $expected in the release"
done

bash "$root/tests/packaging/release_checks.sh" "$work/dist-a" "$work/checks"
echo "two release runs identical: $(wc -l <"$work/dist-a/SHA256SUMS") files"
