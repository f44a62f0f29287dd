#!/bin/sh
# The README's install commands, then the worked example of
# docs/adding-a-schema-change.md, run in a copy of the tree exactly as the
# pages write them: a page that no longer applies, or whose new cases fail,
# fails here. The README's ctest line is this suite itself, so it is left out.
# Usage: guide.sh SOURCE_DIR COPY_DIR (both absolute)
set -eu
rm -rf "$2" && mkdir -p "$2" && cd "$2"
# The sources as a checkout or a release tarball holds them: not the build
# folders, nor what the firmware tree builds in its copy.
tar -C "$1" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./openwrt-build -cf - . |
  tar -xf -

awk '/^    (cmake|DESTDIR=)/ || more { print substr($0, 5); more = /\\$/ }' README.md |
  sed "s|/path/to/rootfs|$PWD/rootfs|" >readme.sh
sh -ex readme.sh
test -x rootfs/usr/sbin/cfgmigrate -a -f rootfs/usr/share/man/man8/cfgmigrate.8 -a -x rootfs/usr/sbin/cfgmigrate-apply

# A block goes into the file named just before it: after the file's line equal
# to the block's first, or as a new file. An sh block is run.
apply() {
  cat >block
  [ -e "$1" ] || { mkdir -p "$(dirname "$1")" && mv block "$1" && return; }
  grep -qxF -e "$(head -n 1 block)" "$1" || { echo "guide: $1 has no line $(head -n 1 block)" >&2; exit 1; }
  awk 'NR == FNR { if (FNR == 1) first = $0; else rest = rest $0 "\n"; next }
    { print } $0 == first && !done { printf "%s", rest; done = 1 }' block "$1" >applied
  cat applied >"$1"
}
awk '/^## Worked example/ { on = 1 } !on { next }
  mode && /^```$/ { if (mode == "file") print "GUIDE_BLOCK"; mode = path = ""; next }
  mode == "skip" { next }
  mode { print; next }
  /^```sh$/ { mode = "sh"; next }
  /^```/ { mode = path == "" ? "skip" : "file"; if (path != "") print "apply " path " <<\047GUIDE_BLOCK\047"; next }
  /^`[^` ]+`$/ { path = substr($0, 2, length($0) - 2); next }
  NF { path = "" }' docs/adding-a-schema-change.md >guide-steps.sh
. ./guide-steps.sh
