#!/usr/bin/env bash
# The exit codes are defined once, in src/conventions/exit_outcome.h; the README's table, the
# support reference and the demo's explanations are written by hand for their readers. This check
# fails as soon as one of them names a code the header does not, or misses one it does.
set -eu
root=$1
header=$root/src/conventions/exit_outcome.h

# "code name" pairs, one a line, sorted by code.
defined=$(sed -n 's/^inline constexpr uint32_t \(EXIT_[A-Z_]*\) = \([0-9]*\);$/\2 \1/p' "$header" | sort -n)
[ -n "$defined" ] || { echo "no exit codes found in $header"; exit 1; }
codes=$(echo "$defined" | cut -d' ' -f1)

status=0
differs() {
  echo "$1 does not match $header:"
  diff <(echo "$2") <(echo "$3") || true
  status=1
}

readme=$(sed -n 's/^| \([0-9]*\) | `\(EXIT_[A-Z_]*\)` |.*/\1 \2/p' "$root/README.md" | sort -n)
[ "$readme" = "$defined" ] || differs README.md "$defined" "$readme"

support=$(sed -n 's/^| \([0-9][0-9]*\) |.*/\1/p' "$root/docs/exit-codes.md" | sort -n)
[ "$support" = "$codes" ] || differs docs/exit-codes.md "$codes" "$support"

# The demo's case arms: "101)" or "119|120|121)".
demo=$(sed -n 's/^ *\([0-9|]*\)) echo.*/\1/p' "$root/scripts/demo.sh" | tr '|' '\n' | sort -n)
[ "$demo" = "$codes" ] || differs scripts/demo.sh "$codes" "$demo"

[ $status -eq 0 ] && echo "exit codes: $(echo "$codes" | wc -l) in the header, README, support reference and demo alike"
exit $status
