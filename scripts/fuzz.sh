#!/bin/sh
# Runs each libFuzzer target for a bounded time on a corpus seeded from the
# examples and the golden cases. Usage: fuzz.sh BUILD_DIR SECONDS [TARGET...]
# A crash leaves its input in BUILD_DIR/fuzz/artifacts/TARGET/; keep it as a
# regression case under tests/fuzz/regressions/TARGET/ once fixed.
set -eu
build=$1
seconds=$2
shift 2
targets=${*:-migration version}
source=$(cd "$(dirname "$0")/.." && pwd)
work=$build/fuzz

seed_migration() {
  for file in "$source"/examples/*.xml "$source"/tests/cases/*/input.xml \
    "$source"/tests/cases/*/expected.xml "$source"/tests/hostile/*.xml; do
    [ -f "$file" ] || continue
    name=$(printf %s "${file#"$source"/}" | tr / _)
    cp "$file" "$1/seed-$name"
  done
}

seed_version() {
  grep -ho '"v[0-9][0-9.-]*"' "$source"/engine/step_table.cc | tr -d '"' | sort -u |
    while read -r label; do printf %s "$label" >"$1/seed-$label"; done
}

status=0
for target in $targets; do
  corpus=$work/corpus/$target
  artifacts=$work/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  "seed_$target" "$corpus"
  dict=
  [ -f "$source/tests/fuzz/$target.dict" ] && dict=-dict=$source/tests/fuzz/$target.dict
  echo "== $target: $seconds s"
  # The regression inputs go first, so a finding that is back shows at once.
  "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" -max_len=65536 -timeout=10 -rss_limit_mb=2048 $dict \
    "$corpus" "$source/tests/fuzz/regressions/$target" 2>&1 |
    grep -E '^(stat::|Done|==[0-9]+==|SUMMARY|INFO: (Seed|Loaded))|artifact_prefix|Test unit' ||
    true
  if [ -n "$(ls -A "$artifacts")" ]; then
    echo "findings of $target in $artifacts:" && ls "$artifacts"
    status=1
  fi
done
exit $status
