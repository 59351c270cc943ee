#!/usr/bin/env bash
# Formats every C++ source and header of the tree with .clang-format. With --check it changes
# nothing: it lists each file that differs, with the lines that would change, and fails.
set -eu
cd "$(dirname "$0")/.."

# Another major version lays some constructs out differently, so a check with it would fail on
# code that is formatted right; Debian 12's clang-format is 14.
clang_format=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
if [ -z "$clang_format" ]; then
  echo "format: clang-format not found; scripts/install-packages.sh installs it" >&2
  exit 1
fi
version=$("$clang_format" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p')
if [ "$version" != 14 ]; then
  echo "format: $clang_format is version $version; the tree is formatted with clang-format 14" >&2
  exit 1
fi

mapfile -t files < <(find src tests sample_setup packager bench -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "${1:-}" != --check ]; then
  "$clang_format" -i --style=file "${files[@]}"
  exit 0
fi

differences=$(mktemp)
trap 'rm -f "$differences"' EXIT
differing=0
for file in "${files[@]}"; do
  if ! "$clang_format" --style=file "$file" | diff -U0 "$file" - >"$differences"; then
    # Each change as file:line, then its lines as they are and as they would be.
    sed -E -e '/^(---|\+\+\+) /d' -e "s|^@@ -([0-9]+).*|$file:\1: differs from .clang-format|" "$differences"
    differing=$((differing + 1))
  fi
done
if [ "$differing" -ne 0 ]; then
  echo "format: $differing file(s) differ; run scripts/format.sh to format them" >&2
  exit 1
fi
echo "format: ${#files[@]} files match .clang-format"
