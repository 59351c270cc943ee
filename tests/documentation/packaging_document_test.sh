#!/usr/bin/env bash
# The README's section "Packaging your own product" is installed on its own as packaging.md, so it
# must not send its reader to another section of the README: no other section's title may appear
# in it as a reference ("Title", see Title).
set -eu
readme=$1/README.md
section=$(awk '/^## Packaging your own product$/ { inside = 1; next } /^## / { inside = 0 } inside' "$readme")
[ -n "$section" ] || { echo "README.md has no section \"## Packaging your own product\""; exit 1; }
# One line, so a reference broken across lines is found too.
flat=$(printf '%s\n' "$section" | tr '\n' ' ' | tr -s ' ')
status=0
while IFS= read -r title; do
  [ "$title" = "Packaging your own product" ] && continue
  if printf '%s' "$flat" | grep -qiF -e "\"$title\"" -e "see $title"; then
    echo "the packaging section (packaging.md) refers to the README's section \"$title\""
    status=1
  fi
done < <(sed -n 's/^##\+ //p' "$readme")
exit $status
