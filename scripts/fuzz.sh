#!/bin/sh
# Runs each libFuzzer target for a bounded time on a corpus seeded from the
# example and the case folders, in the test sandbox: the migration writes
# the portal images to /tmp. Usage: fuzz.sh BUILD_DIR SECONDS [TARGET...]
# A crash leaves its input in BUILD_DIR/fuzz/artifacts/TARGET/; once fixed,
# it becomes a case folder under tests/cases/.
set -eu
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=${*:-migration}
source=$(cd "$(dirname "$0")/.." && pwd)
work=$build/fuzz

seed_migration() {
  for file in "$source"/examples/*.xml "$source"/tests/cases/*/input.xml \
    "$source"/tests/cases/*/expected.xml; do
    [ -f "$file" ] || continue
    name=$(printf %s "${file#"$source"/}" | tr / _)
    cp "$file" "$1/seed-$name"
  done
}

sandbox="unshare --mount"
[ "$(id -u)" = 0 ] || sandbox="$sandbox --map-root-user"
status=0
for target in $targets; do
  corpus=$work/corpus/$target
  artifacts=$work/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  "seed_$target" "$corpus"
  dict=
  [ -f "$source/tests/fuzz/$target.dict" ] && dict=-dict=$source/tests/fuzz/$target.dict
  echo "== $target: $seconds s"
  # The target's own output (libxml2's complaints about malformed inputs)
  # is closed; libFuzzer and the sanitizers report on a copy of stderr.
  $sandbox bash "$source/tests/sandbox.sh" "$work/box-$target" \
    "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 $dict \
    "$corpus" 2>&1 |
    grep -E '^(stat::|Done|==[0-9]+==|SUMMARY|INFO: (Seed|Loaded))|artifact_prefix|Test unit' ||
    true
  if [ -n "$(ls -A "$artifacts")" ]; then
    echo "findings of $target in $artifacts:" && ls "$artifacts"
    status=1
  fi
done
exit $status
