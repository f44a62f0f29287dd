#!/bin/sh
# What the step table alone decides, checked where it is written down again:
# the manual pages render without a warning, the tool's lists the table's rows, the
# OpenWrt package's version is the project's (the table's newest, v1.4.09
# giving 1.4.9), and the bundled example is the input of its case.
# Usage: consistency.sh SOURCE_DIR VERSION
# The table is read from its source as the build reads it (a row a line,
# `{"FROM", "TO", step_NAME},`); the -v cases check the build read it right.
set -eu
source=$1
version=$2
page=$source/docs/cfgmigrate.8
fail() { printf '%s\n' "$@" >&2; exit 1; }

for manual in "$page" "$source/docs/cfgmigrate-apply.8"; do
  warnings=$(LC_ALL=C.UTF-8 groff -man -ww -Tutf8 "$manual" 2>&1 >/dev/null) || fail "groff failed:" "$warnings"
  [ -z "$warnings" ] || fail "groff warns on $manual:" "$warnings"
done

# A row is written `.BR FROM " \(-> " TO`, with "\-" for each hyphen.
listed=$(sed -n '/^\.SH "\{0,1\}SCHEMA VERSIONS/,/^\.SH/p' "$page" |
  sed -n 's/^\.BR \(v[^ ]*\) " \\(-> " \(v[^ ]*\)$/\1 \2/p' | sed 's/\\-/-/g')
table=$(sed -n 's/^ *{"\(v[^"]*\)", "\(v[^"]*\)", step_.*/\1 \2/p' "$source/engine/step_table.cc")
[ -n "$table" ] && [ "$listed" = "$table" ] ||
  fail "SCHEMA VERSIONS of $page:" "$listed" "step table:" "$table"

package=$(sed -n 's/^PKG_VERSION:=//p' "$source/packaging/openwrt/cfgmigrate/Makefile")
[ "$package" = "$version" ] || fail "OpenWrt PKG_VERSION is $package, the step table's newest gives $version"

sed 's|@VENDOR@|http://www.orvalis.com|g; s|@STORE@|http://cfgstore.orvalis.com|g' \
  "$source/tests/cases/example-full-road/input.xml" | cmp -s - "$source/examples/config-v1.0.16.xml" ||
  fail "examples/config-v1.0.16.xml is not the input of the case example-full-road"

# Each command example of the README and the manual pages names, in a comment
# beside it, the case folder that runs it; its command must be the folder's,
# whose name says which program runs.
sed 's/\\-/-/g' "$source/README.md" "$page" "$source/docs/cfgmigrate-apply.8" |
  grep '^ *cfgmigrate\(-apply\)\{0,1\} \(-[a-z]\|v\|config\.\)' | while read -r line; do
  folder=$source/tests/cases/${line##*tests/cases/}
  [ "$folder" != "$source/tests/cases/$line" ] && [ -f "$folder/args" ] || fail "no case folder named beside: $line"
  program=cfgmigrate
  case $folder in */apply-*) program=cfgmigrate-apply ;; esac
  shown=$(printf '%s' "${line%%[#\\]*}" | sed 's/ *$//')
  [ "$shown" = "$program $(tr '\n' ' ' <"$folder/args" | sed 's/ *$//')" ] || fail "$line" "is not the command of $folder"
done
