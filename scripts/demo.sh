#!/bin/sh
# Migrates the bundled v1.0.16 configuration to the newest schema version
# with -d and shows what happened: the console and syslog lines, the images
# left in /tmp, where the result went, and a diff.
#
# The tool writes its diagnostic lines to /dev/console and syslog and the
# portal images to /tmp. To show them without touching the machine, the run
# happens in the test sandbox (tests/sandbox.sh) whenever one can be made.
# Usage: demo.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
fact() { sed -n "s/.*\"$1\": \"\([^\"]*\)\".*/\1/p" "$build/tests/cases.json"; }
newest=$(fact newest)
oldest=$(sed -n '1,/^STEP/s/^STEP("\([^"]*\)".*/\1/p' "$root/steps/step_table.def")
work=$build/demo
output=$work/config-$newest.xml
rm -rf "$work"
mkdir -p "$work/example"
cp "$root/examples/config-v1.0.16.xml" "$work/example/input.xml"
command="cfgmigrate -d $oldest $newest input.xml output.xml"
printf '%s\n' "why: the bundled example, migrated by make demo" "run: $command" >"$work/example/case"
echo "== $command"

# The case expects nothing: the runner reports everything the run did as a
# difference and keeps it in its box, or says why it could make no sandbox,
# or why it made no run.
box=$build/tests/boxes/example
rm -rf "$box"
report=$(python3 "$root/tests/run_case.py" "$build/tests/cases.json" "$work/example" 2>&1) || true
why=$(printf '%s\n' "$report" | sed -n 's/^no sandbox: //p')
if [ -z "$why" ] && [ ! -f "$box/streams/status" ]; then
  printf '%s\n' "The test runner made no run:" "$report" >&2
  exit 1
elif [ -z "$why" ]; then
  echo "(run in a private mount namespace: the console, syslog and /tmp below are the sandbox's)"
  for stream in console syslog stdout stderr; do
    echo "== $stream"
    cat "$box/streams/$stream"
  done
  # Files only: a tree cloned under /tmp shows there as a folder.
  echo "== /tmp after the run"
  find "$box/root/tmp" -maxdepth 1 -type f -printf '%M %6s %f\n' | sort -k 3
  echo "== exit status $(cat "$box/streams/status")"
  cp "$box/root/output.xml" "$output" 2>/dev/null || true
else
  echo "No sandbox here${why:+ ($why)}."
  echo "cfgmigrate runs directly: its diagnostic lines go to the real /dev/console (if this"
  echo "user may open it) and syslog, where this script cannot show them, and the portal"
  echo "images it converts are left as $(fact images)."
  status=0
  (cd "$work/example" && "$build/cfgmigrate" -d $oldest "$newest" input.xml "$output") ||
    status=$?
  echo "== exit status $status"
fi
echo
echo "== result written to $output"
echo "== diff -u input output"
if [ -f "$output" ]; then
  diff -u "$work/example/input.xml" "$output" || true
else
  echo "(no output file)"
fi
