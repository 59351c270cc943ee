#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy's checks) over the production code, src/ and packager/, as the cross
# build compiles it: for x86_64-w64-mingw32 with MinGW's C++ headers. Each finding is printed as
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

# clang does not know GCC's -fno-tree-loop-distribute-patterns and would stop at it, so the checks
# read a copy of the database without it.
lint_directory=$build/lint
mkdir -p "$lint_directory"
sed -e 's/ -fno-tree-loop-distribute-patterns//g' "$database" >"$lint_directory/compile_commands.json"

# clang finds MinGW's C headers for the target by itself, but not the C++ headers of Debian's
# MinGW GCC, whose version directory is named like 12-posix; ask that compiler where they are.
gcc_include=$(x86_64-w64-mingw32-g++-posix -print-file-name=include)
extra_arguments=(
  --extra-arg=--target=x86_64-w64-mingw32
  --extra-arg=-nostdinc++
  "--extra-arg=-isystem$gcc_include/c++"
  "--extra-arg=-isystem$gcc_include/c++/x86_64-w64-mingw32"
  "--extra-arg=-isystem$gcc_include/c++/backward"
)

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
    --header-filter="^$root/(src|packager)/" "${@:2}" "$1" >"$report" 2>&1 || echo "$1" >"$report.failed"
' _ {} "${extra_arguments[@]}"

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
