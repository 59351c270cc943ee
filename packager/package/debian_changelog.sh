#!/bin/sh
# debian_changelog.sh <CHANGELOG.md> <version> <commit> <commit time> <maintainer> <output.gz>
# Writes the Debian package's changelog from CHANGELOG.md, its one source: each "## X.Y.Z (date)"
# section becomes an entry, its items wrapped for Debian's 80 columns. A build between releases
# (a version with "+") gets an entry of its own naming the commit, at its time (seconds since 1970). Compressed without a name or
# time in the header, so the same inputs give the same bytes.
set -eu
changelog=$1 version=$2 commit=$3 commit_time=$4 maintainer=$5 output=$6
{
  case $version in
    *+*)
      printf 'drelix-pack (%s) unstable; urgency=medium\n\n' "$version"
      printf '  * Build of commit %s.\n\n' "$commit"
      printf ' -- %s  %s\n\n' "$maintainer" "$(date -u -R -d "@$commit_time")"
      ;;
  esac
  awk -v maintainer="$maintainer" '
    function flush(   words, count, i, line) {
      if (item == "") return
      count = split(item, words, " ")
      line = "  *"
      for (i = 1; i <= count; i++) {
        if (length(line) + 1 + length(words[i]) > 78) { print line; line = "   " }
        line = line " " words[i]
      }
      print line
      item = ""
    }
    function close_entry() { flush(); if (open) { printf "\n -- %s  %s\n\n", maintainer, date; open = 0 } }
    /^## [0-9]+\.[0-9]+\.[0-9]+ \([0-9-]+\)$/ {
      close_entry()
      command = "date -u -R -d " substr($3, 2, 10)
      command | getline date
      close(command)
      printf "drelix-pack (%s) unstable; urgency=medium\n\n", $2
      open = 1
      next
    }
    open && /^- / { flush(); item = substr($0, 3); next }
    open && /^  / && item != "" { sub(/^ +/, ""); item = item " " $0; next }
    END { close_entry() }
  ' "$changelog"
} | sed -e '$d' | gzip -n -9 >"$output"
