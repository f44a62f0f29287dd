#!/bin/sh
# What the step table alone decides, checked where it is written down again:
# the built manual page renders without a warning, the OpenWrt package's
# version is the project's (the numbers of the table's newest label), and
# the bundled example is the input of its case.
# Usage: consistency.sh SOURCE_DIR VERSION BUILT_PAGE
set -eu
source=$1
version=$2
page=$3
fail() { printf '%s\n' "$@" >&2; exit 1; }

warnings=$(LC_ALL=C.UTF-8 groff -man -ww -Tutf8 "$page" 2>&1 >/dev/null) || fail "groff failed:" "$warnings"
[ -z "$warnings" ] || fail "groff warns on $page:" "$warnings"

package=$(sed -n 's/^PKG_VERSION:=//p' "$source/packaging/openwrt/cfgmigrate/Makefile")
[ "$package" = "$version" ] || fail "OpenWrt PKG_VERSION is $package, the step table's newest gives $version"

sed 's|@VENDOR@|http://www.orvalis.com|g; s|@STORE@|http://cfgstore.orvalis.com|g' \
  "$source/tests/cases/example-full-road/input.xml" | cmp -s - "$source/examples/config-v1.0.16.xml" ||
  fail "examples/config-v1.0.16.xml is not the input of the case example-full-road"

# Each command example of the README and the manual page names, in a comment
# beside it, the case folder that runs it; its command must be the folder's.
sed 's/\\-/-/g' "$source/README.md" "$page" | grep '^ *cfgmigrate \(-[a-z]\|v\)' | while read -r line; do
  folder=$source/tests/cases/${line##*tests/cases/}
  [ "$folder" != "$source/tests/cases/$line" ] && [ -f "$folder/args" ] || fail "no case folder named beside: $line"
  shown=$(printf '%s' "${line%%[#\\]*}" | sed 's/ *$//')
  [ "$shown" = "cfgmigrate $(tr '\n' ' ' <"$folder/args" | sed 's/ *$//')" ] || fail "$line" "is not the command of $folder"
done
