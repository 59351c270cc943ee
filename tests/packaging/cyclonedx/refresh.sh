#!/bin/sh
# refresh.sh: fetches the pinned release of the npm package @cyclonedx/cyclonedx-library, checks
# its tarball against the integrity recorded here, and copies the CycloneDX 1.6 JSON schema, the two
# schemas it references and the package's licence and notice into this folder. The tests read only
# these copies, so they need no network. To move to another release, change both lines below
# (`npm view @cyclonedx/cyclonedx-library@VERSION dist.integrity` gives the second) and run it.
set -eu
version=10.3.0
integrity=sha512-RIT28sp1U0PCHaaeF3yNRwk6Jig/XJ8UsYAVOMYaHQ+0VVOvsjcp0PTWQFLUqJFF8XMud+Kdq6G+wtDAh+QJFA==
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm pack --silent "@cyclonedx/cyclonedx-library@$version" >/dev/null
tarball=cyclonedx-cyclonedx-library-$version.tgz
actual=sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)
[ "$actual" = "$integrity" ] || { echo "refresh.sh: $tarball is $actual, not $integrity" >&2; exit 1; }
tar -xzf "$tarball"
for file in bom-1.6.SNAPSHOT.schema.json spdx.SNAPSHOT.schema.json jsf-0.82.SNAPSHOT.schema.json; do
  cp "package/res/schema/$file" "$here/$file"
done
cp package/LICENSE "$here/LICENSE"
cp package/NOTICE "$here/NOTICE"
echo "copied the schemas of @cyclonedx/cyclonedx-library $version"
