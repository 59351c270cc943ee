#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy's checks) over the production code, src/ and packager/, as the cross
# build compiles it (clang-19 for x86_64-w64-mingw32 with MinGW's posix C++ headers: the compile
# commands carry the target and the header folders). Each finding is printed as
# file:line:column with its check, and any finding fails the run. Needs a configured build tree
# (compile_commands.json); scripts/test.sh configures one first.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
database=$build/compile_commands.json
if [ ! -f "$database" ]; then
  echo "lint: $database is missing; configure the build first (cmake -S . -B $build -G Ninja)" >&2
  exit 1
fi
clang_tidy=${CLANG_TIDY:-$(command -v clang-tidy-14 || command -v clang-tidy || true)}
if [ -z "$clang_tidy" ]; then
  echo "lint: clang-tidy not found; scripts/install-packages.sh installs it" >&2
  exit 1
fi

# clang-tidy 14 does not know clang-19's -mguard=cf and -gno-codeview-command-line (they change
# code generation and debug information only), so the checks read a copy of the database without.
lint_directory=$build/lint
mkdir -p "$lint_directory"
sed -e 's/ -mguard=cf//g' -e 's/ -gno-codeview-command-line//g' "$database" >"$lint_directory/compile_commands.json"

# The translation units the cross build compiles from src/ and packager/ (not the generated
# embedded stub); their headers are checked through them.
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" |
  grep -E "^$root/(src|packager)/[^ ]*\.cpp$" | grep -v "^$root/packager/tests/" | sort -u)
if [ "${#files[@]}" -eq 0 ]; then
  echo "lint: $database names no source of src/ or packager/" >&2
  exit 1
fi

# Two files at a time, each one's report kept apart and printed whole.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
export clang_tidy lint_directory reports root
printf '%s\n' "${files[@]}" | xargs -P 2 -I{} bash -c '
  report="$reports/$(echo "$1" | tr / _).txt"
  "$clang_tidy" -p "$lint_directory" --quiet --warnings-as-errors="*" \
    --header-filter="^$root/(src|packager)/" "$1" >"$report" 2>&1 || echo "$1" >"$report.failed"
' _ {}

failed=0
for file in "${files[@]}"; do
  report="$reports/$(echo "$file" | tr / _).txt"
  if [ -f "$report.failed" ]; then
    failed=$((failed + 1))
    grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$report" | sed "s|$root/||"
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "lint: findings in $failed of ${#files[@]} files" >&2
  exit 1
fi
echo "lint: ${#files[@]} files, no findings"
