#!/bin/bash
# cfgmigrate against libxml2's round trip (xmllint --output, blanks kept: the floor), written to
# docs/performance.md and .png. BENCH_SIZES: MiB (default "1 2 4 8 16 32 64"); BENCH_BUILD;
# CMAKE_FLAGS, such as other namespace bases.
set -euo pipefail
# The tool writes /tmp/cpp_*.jpg: all runs see a tmpfs /tmp of their own, and no syslog.
[ "${1:-}" = --private ] ||
  exec unshare "$([ $EUID = 0 ] && echo --mount || echo -rm)" --propagation private "$0" --private
mount -t tmpfs bench-tmp /tmp
if [ -S /dev/log ]; then mount --bind /dev/null /dev/log; fi
root=$(cd "$(dirname "$0")/.." && pwd) load=$(cut -d ' ' -f 1-3 /proc/loadavg)
build=${BENCH_BUILD:-$root/build-bench} sizes=${BENCH_SIZES:-"1 2 4 8 16 32 64"}
data=$build/bench-data tool=$build/cfgmigrate
# The step table's first from-label and last to-label.
labels=$(sed -n 's/^STEP("\([^"]*\)", "\([^"]*\)".*/\1 \2/p' "$root/steps/step_table.def")
oldest=$(echo "$labels" | head -n 1 | cut -d ' ' -f 1) newest=$(echo "$labels" | tail -n 1 | cut -d ' ' -f 2)
up=("$tool" "$oldest" "$newest") floor=(xmllint --output /tmp/floor.xml)
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
count() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
  sed -n 's/.*Collected : //p'; }
n() { printf "*[local-name()='%s']" "$1"; }
versus() { awk "BEGIN { printf \"%.3fx (%d vs %d)\", $1 / $2, $1, $2 }"; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCFGMIGRATE_TESTS=OFF \
  ${CMAKE_FLAGS:-} >/dev/null
cmake --build "$build" -j 2 --target cfgmigrate >/dev/null
rm -rf "$data" && mkdir -p "$data"
ns() { sed -n "s|^CFGMIGRATE_$1_NS_BASE:STRING=||p" "$build/CMakeCache.txt"; }
for size in $sizes 3MB; do
  bytes=$([ "$size" = 3MB ] && echo 3000000 || echo $((size << 20)))
  python3 "$root/bench/generate.py" "$bytes" "$(ns VENDOR)" "$(ns STORE)" "$data/$size.xml"
done

# Each step leaves a mark the input lacks, if the namespaces match the build's.
in=$data/3MB.xml
"${up[@]}" "$in" /tmp/up.xml
for mark in "$(n restconf-zone)" "$(n mac-filter)/$(n action)" "$(n local-certificate)" \
  "$(n autoChannel-enable)" "$(n start-end-addresses)" "$(n content)[starts-with(., '/9j/')]" \
  "$(n orvalis-netconf)" "$(n orvalis-restconf)"; do
  counts=$(xmllint --xpath "count(//$mark)" "$in")/$(xmllint --xpath "count(//$mark)" /tmp/up.xml)
  [[ $counts = 0/[1-9]* ]] || { echo "bench: the upgrade made no $mark ($counts)" >&2 && exit 1; }
done
hyperfine -N -w 1 --export-json "$data/3MB.json" -n floor "${floor[*]} $in" \
  -n upgrade "${up[*]} $in /tmp/up.xml" -n same "$tool $oldest $oldest $in /tmp/same.xml" >&2
cpu='[.results[] | (.user + .system) * 1000 | floor] | @tsv'
read -r c_floor c_up c_same < <(jq -r "$cpu" "$data/3MB.json")
i_floor=$(count "${floor[@]}" "$in") i_up=$(count "${up[@]}" "$in" /tmp/up.xml)
i_same=$(count "$tool" "$oldest" "$oldest" "$in" /tmp/same.xml)
for size in $sizes; do
  in=$data/$size.xml
  "${up[@]}" "$in" /tmp/upgraded.xml
  hyperfine -N -w 1 -m 5 --export-json "$data/$size.json" -n floor "${floor[*]} $in" \
    -n upgrade "${up[*]} $in /tmp/up.xml" \
    -n downgrade "$tool $newest $oldest /tmp/upgraded.xml /tmp/down.xml" >&2
  echo "$size $(jq -r '[.results[].median] | @tsv' "$data/$size.json")" \
    "$(peak "${floor[@]}" "$in") $(peak "${up[@]}" "$in" /tmp/up.xml)"
done >"$data/results"

worst='$6 / $5 > m { m = $6 / $5; at = $1 } END { printf "%.3fx at %d MiB", m, at }'
memory=$(awk "$worst" "$data/results")
strip -o "$data/stripped" "$tool"
gnuplot <<EOF
set terminal pngcairo size 900,560 font ",11"; set output "$root/docs/performance.png"
set title "cfgmigrate against libxml2's parse and save (xmllint --output), hyperfine medians"
set xlabel "input size (MiB)"; set ylabel "wall time (s)"; set logscale xy 2; set key top left
plot for [c=2:4] "$data/results" using 1:c with lp lw 2 title word("floor upgrade downgrade", c - 1)
EOF
# The page's own sections ("## ") were measured by hand: they stay as they are.
kept=$(sed -n '/^## /,$p' "$root/docs/performance.md")
cat >"$root/docs/performance.md" <<EOF
# Performance

\`make bench\` on $(date -u +%F): $(uname -m), $(nproc) cores shared with others (load $load),
libxml2 $(xmllint --version 2>&1 | sed -n '1s/.* //p'), Release build (\`-Os\`). Inputs from
\`bench/generate.py\`: configurations of the oldest schema in the build's namespaces, with
thousands of firewall rules, interfaces, SSIDs and tunnels and four portal images. The upgrade
($oldest to $newest) changes every step's elements; the downgrade takes its output back. The
floor: \`xmllint --output OUT IN\`. Times: hyperfine medians (a warm-up, 5 runs or more); peak
memory: GNU time's maximum resident set, one run.

| MiB | floor s | upgrade s | ratio | downgrade s | ratio | floor peak MB | tool peak MB | ratio |
|---:|---:|---:|---:|---:|---:|---:|---:|---:|
$(awk '{ printf "| %d | %.3f | %.3f | %.2f | %.3f | %.2f | %.1f | %.1f | %.3f |\n",
  $1, $2, $3, $3 / $2, $4, $4 / $2, $5 / 1024, $6 / 1024, $6 / $5 }' "$data/results")

![time against input size](performance.png)

Wall times move by tens of percent with the machine's load; instruction counts (callgrind,
3 MB configuration) do not. Beside them, CPU time on that file (hyperfine's mean user + system).

| target | bound | measured |
|---|---|---|
| upgrade instructions, 3 MB | <= 1.20x floor | $(versus "$i_up" "$i_floor"); CPU ms \
$(versus "$c_up" "$c_floor") |
| same version, 3 MB | | $(versus "$i_same" "$i_floor"); CPU ms \
$(versus "$c_same" "$c_floor") |
| upgrade peak memory, worst size | <= 1.05x floor | $memory |
| footprint | | $(stat -c %s "$data/stripped") bytes stripped, text $(size "$tool" |
  awk 'NR == 2 { print $1 }') (\`size\`), NEEDED: $(readelf -d "$tool" |
  sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p' | xargs) |

$kept
EOF
