#!/bin/sh
# Checks the manual page: groff renders it without a single warning, and the
# rows under SCHEMA VERSIONS are the step table's rows, in order.
# Usage: check_man_page.sh PAGE COMMAND...
# COMMAND prints the table as "from-label to-label" lines (tests/step_labels).
set -eu
page=$1
shift

if ! command -v groff >/dev/null; then
  echo "groff is not installed (make test-deps installs groff-base)"
  exit 1
fi
if ! warnings=$(LC_ALL=C.UTF-8 groff -man -ww -Tutf8 "$page" 2>&1 >/dev/null); then
  printf 'groff failed on %s:\n%s\n' "$page" "$warnings"
  exit 1
fi
if [ -n "$warnings" ]; then
  printf 'groff warns on %s:\n%s\n' "$page" "$warnings"
  exit 1
fi

# A row is written `.BR FROM " \(-> " TO`, with "\-" for each hyphen.
listed=$(sed -n '/^\.SH "\{0,1\}SCHEMA VERSIONS/,/^\.SH/p' "$page" |
  sed -n 's/^\.BR \(v[^ ]*\) " \\(-> " \(v[^ ]*\)$/\1 \2/p' | sed 's/\\-/-/g')
table=$("$@")
if [ -z "$table" ] || [ "$listed" != "$table" ]; then
  printf 'SCHEMA VERSIONS of %s:\n%s\nstep table:\n%s\n' "$page" "$listed" "$table"
  exit 1
fi
echo "man page renders cleanly and lists the $(echo "$table" | wc -l) rows of the step table"
