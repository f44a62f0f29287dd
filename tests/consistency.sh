#!/bin/sh
# What the step table alone decides, checked where it is written down again:
# the built manual pages render without a warning, the OpenWrt package's
# version is the project's (the numbers of the table's newest label), and
# the bundled example is the input of its case.
# Usage: consistency.sh SOURCE_DIR VERSION BUILT_PAGE (the companion's beside it)
set -eu
source=$1
version=$2
page=$3
fail() { printf '%s\n' "$@" >&2; exit 1; }

companion=${page%/*}/cfgmigrate-apply.8
for manual in "$page" "$companion"; do
  warnings=$(LC_ALL=C.UTF-8 groff -man -ww -Tutf8 "$manual" 2>&1 >/dev/null) || fail "groff failed:" "$warnings"
  [ -z "$warnings" ] || fail "groff warns on $manual:" "$warnings"
done

package=$(sed -n 's/^PKG_VERSION:=//p' "$source/packaging/openwrt/cfgmigrate/Makefile")
[ "$package" = "$version" ] || fail "OpenWrt PKG_VERSION is $package, the step table's newest gives $version"

sed 's|@VENDOR@|http://www.orvalis.com|g; s|@STORE@|http://cfgstore.orvalis.com|g' \
  "$source/tests/cases/example-full-road/input.xml" | cmp -s - "$source/examples/config-v1.0.16.xml" ||
  fail "examples/config-v1.0.16.xml is not the input of the case example-full-road"

# Each command example of the README and the manual pages names, in a comment
# beside it, the case (a folder, or a variant's file) whose line `run:` it is.
sed 's/\\-/-/g' "$source/README.md" "$page" "$companion" |
  grep '^ *cfgmigrate\(-apply\)\{0,1\} \(-[a-z-]\|v\|config\.\)' | while read -r line; do
  named=$source/tests/cases/${line##*tests/cases/}
  shown=$(printf '%s' "${line%%[#\\]*}" | sed 's/ *$//')
  [ "$named" != "$source/tests/cases/$line" ] && grep -sqxF "run: $shown" "$named" "$named/case" ||
    fail "$line" "is not the line run: of a case named beside it"
done
