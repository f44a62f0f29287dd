#!/bin/sh
# Migrates the bundled v1.0.16 configuration to v1.4.09 with -d and shows
# what happened: the diagnostic lines, where the result went, and a diff.
#
# The tool writes its diagnostic lines to /dev/console and syslog, and the
# captive-portal images to /tmp. To show them without touching the machine,
# the run happens in the end-to-end test sandbox (a private mount namespace
# where the console is a file, /dev/log a socket read back, /tmp private)
# whenever one can be made.
set -eu

binary=$1
build=$(dirname "$binary")
runner=$build/tests/sandbox_run
root=$(cd "$(dirname "$0")/.." && pwd)
example=$root/examples/config-v1.0.16.xml

work=$build/demo
mkdir -p "$work"
work=$(cd "$work" && pwd)
input=$work/config-v1.0.16.xml
output=$work/config-v1.4.09.xml
cp "$example" "$input"
rm -f "$output"

set -- -d v1.0.16-20170810 v1.4.09 "$input" "$output"
echo "== cfgmigrate $*"

status=0
if [ -x "$runner" ] && why=$("$runner" --check 2>&1); then
  echo "(run in a private mount namespace: the console, syslog and /tmp below are the sandbox's)"
  "$runner" "$@" || status=$?
else
  echo "No sandbox here (${why:-the runner was not built}), so cfgmigrate runs directly:"
  echo "its diagnostic lines go to the real /dev/console (if this user may open it) and"
  echo "syslog, where this script cannot show them, and the portal images it converts"
  echo "are left in /tmp as cpp_bg_*.jpg and cpp_logo_*.jpg."
  "$binary" "$@" || status=$?
  echo "exit status: $status"
fi

echo
echo "== result written to $output"
echo "== diff -u input output"
if [ -f "$output" ]; then
  diff -u "$input" "$output" || true
else
  echo "(no output file)"
fi
exit "$status"
