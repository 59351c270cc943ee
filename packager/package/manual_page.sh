#!/bin/sh
# manual_page.sh <drelix-pack> <version> <date YYYY-MM-DD> <output.1.gz>
# Writes the manual page drelix-pack(1) from the tool's own --help text, its one source: the usage
# lines become the synopsis, the first paragraph the description, each "... options:" block a
# section with one entry per option, other paragraphs text of their own. Compressed without a name
# or time in the header, so the same tool gives the same bytes.
set -eu
tool=$1 version=$2 date=$3 output=$4
"$tool" --help | awk -v version="$version" -v date="$date" '
  # roff: a backslash is doubled, every hyphen is a minus sign (option names are typed as such),
  # and a line may not begin with a dot or an apostrophe.
  function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    sub(/^[.\047]/, "\\\\\\&&", text)
    return text
  }
  BEGIN {
    print ".TH DRELIX\\-PACK 1 \"" date "\" \"drelix\\-pack " roff(version) "\" \"User Commands\""
    print ".SH NAME"
    print "drelix\\-pack \\- pack a product into a silent Windows installer, or inspect one"
  }
  /^Usage:$/ { print ".SH SYNOPSIS"; state = "usage"; next }
  state == "usage" && /^  / { sub(/^ +/, ""); print ".B " roff($0); print ".br"; next }
  /^$/ { if (state == "usage") { print ".SH DESCRIPTION"; state = "description" } else if (state != "options") { print ".PP" }; next }
  /^[A-Z][a-z ]* options.*:$/ { sub(/:$/, ""); print ".SH " toupper(roff($0)); state = "options"; next }
  state == "options" && /^  --/ {
    option = $0; sub(/^ +/, "", option); text = option
    sub(/  +.*$/, "", option)
    sub(/^[^ ]+( [^ ]+)? +/, "", text)
    if (text == option) text = ""
    split(option, parts, " ")
    print ".TP"
    print "\\fB" roff(parts[1]) "\\fR" (parts[2] == "" ? "" : " \\fI" roff(parts[2]) "\\fR")
    if (text != "") print roff(text)
    next
  }
  state == "options" && /^   +/ { sub(/^ +/, ""); print roff($0); next }
  state == "options" && /^  / { sub(/^ +/, ""); print ".PP"; print roff($0); next }
  { if (state == "options") { print ".SH NOTES"; state = "notes" } print roff($0) }
  END {
    print ".SH SEE ALSO"
    print "/usr/share/doc/drelix\\-pack/packaging.md, setup\\-program.md and exit\\-codes.md."
  }
' | gzip -n -9 >"$output"
