#!/bin/bash
# cfgmigrate against libxml2's round trip (the floor: xmllint --output, blanks kept), on Debian's
# libxml2 and on 2.15 as routers run it (scripts/router-libs.sh), which has no xmllint: there the
# floor is bench/floor.c, the same calls. Written to docs/performance.md and .png. BENCH_SIZES: MiB
# of the time and memory sweep (default "1 2 4 8 16 32 64"); BENCH_BUILD; CMAKE_FLAGS, such as
# other namespace bases.
set -euo pipefail
# The tool writes /tmp/cpp_*.jpg: all runs see a tmpfs /tmp of their own, and no syslog.
[ "${1:-}" = --private ] ||
  exec unshare "$([ $EUID = 0 ] && echo --mount || echo -rm)" --propagation private "$0" --private
mount -t tmpfs bench-tmp /tmp
if [ -S /dev/log ]; then mount --bind /dev/null /dev/log; fi
root=$(cd "$(dirname "$0")/.." && pwd) load=$(cut -d ' ' -f 1-3 /proc/loadavg)
build=${BENCH_BUILD:-$root/build-bench} sizes=${BENCH_SIZES:-"1 2 4 8 16 32 64"}
data=$build/bench-data router=${CFGMIGRATE_ROUTER_LIBS:-$root/.router-libs}/xml2.15
# The step table's first from-label and last to-label.
labels=$(sed -n 's/^STEP("\([^"]*\)", "\([^"]*\)".*/\1 \2/p' "$root/steps/step_table.def")
oldest=$(echo "$labels" | head -n 1 | cut -d ' ' -f 1) newest=$(echo "$labels" | tail -n 1 | cut -d ' ' -f 2)
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
n() { printf "*[local-name()='%s']" "$1"; }
ratio() { awk "BEGIN { printf \"%.3f\", $1 / $2 }"; }

# The tool built against each libxml2, and each one's floor.
"$root/scripts/router-libs.sh" xml2.15 >&2
mkdir -p "$data"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCFGMIGRATE_TESTS=OFF ${CMAKE_FLAGS:-} >/dev/null
cmake -S "$root" -B "$build-xml2.15" -DCMAKE_BUILD_TYPE=Release -DCFGMIGRATE_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-linux-gnu-libxml2-2.15.cmake" ${CMAKE_FLAGS:-} >/dev/null
for tree in "$build" "$build-xml2.15"; do cmake --build "$tree" -j 2 --target cfgmigrate >/dev/null; done
cc -O2 -I"$router/include/libxml2" "$root/bench/floor.c" -L"$router/lib" -Wl,-rpath,"$router/lib" \
  -lxml2 -o "$data/floor-2.15"
tool=$build/cfgmigrate
declare -A tools=([debian]=$tool [2.15]=$build-xml2.15/cfgmigrate)
declare -A floors=([debian]=xmllint [2.15]=$data/floor-2.15)
version() { if [ "$1" = debian ]; then xmllint --version 2>&1 | awk 'NR == 1 {
  printf "%d.%d.%d", $NF / 10000, $NF / 100 % 100, $NF % 100 }'; else
  sed -n 's/^Version: //p' "$router/lib/pkgconfig/libxml-2.0.pc"; fi; }

ns() { sed -n "s|^CFGMIGRATE_$1_NS_BASE:STRING=||p" "$build/CMakeCache.txt"; }
for size in $sizes 3MB 20MiB; do
  bytes=$([ "$size" = 3MB ] && echo 3000000 || echo $((${size%MiB} << 20)))
  python3 "$root/bench/generate.py" "$bytes" "$(ns VENDOR)" "$(ns STORE)" "$data/$size.xml"
done

# Each step leaves a mark the input lacks, if the namespaces match the build's.
in=$data/3MB.xml
"$tool" "$oldest" "$newest" "$in" /tmp/up.xml
for mark in "$(n restconf-zone)" "$(n mac-filter)/$(n action)" "$(n local-certificate)" \
  "$(n autoChannel-enable)" "$(n start-end-addresses)" "$(n content)[starts-with(., '/9j/')]" \
  "$(n orvalis-netconf)" "$(n orvalis-restconf)"; do
  counts=$(xmllint --xpath "count(//$mark)" "$in")/$(xmllint --xpath "count(//$mark)" /tmp/up.xml)
  [[ $counts = 0/[1-9]* ]] || { echo "bench: the upgrade made no $mark ($counts)" >&2 && exit 1; }
done

# Millions of instructions (callgrind) of the whole run and of each phase, the functions'
# inclusive costs: parse, strip, steps, save, free, the rest. The floor has no strip nor steps.
phases() { # PROFILE FUNCTION|... ("-" for a phase the run has not)
  callgrind_annotate --inclusive=yes --threshold=100 "$1" | awk -v names="$2" '
    BEGIN { count = split(names, name, "|") }
    { gsub(",", "", $1) }
    /PROGRAM TOTALS/ { total = $1 }
    # COST (PERCENT) FILE:FUNCTION [OBJECT]
    match($0, /%\) +/) {
      function_name = substr($0, RSTART + RLENGTH)
      sub(/ \[[^]]*\]$/, "", function_name)
      sub(/^.*:/, "", function_name)
      for (i = 1; i <= count; i++) if (function_name == name[i] && !(i in cost)) cost[i] = $1
    }
    END {
      for (i = 1; i <= count; i++) {
        rest += cost[i]
        printf name[i] == "-" ? "- " : sprintf("%.1f ", cost[i] / 1e6)
      }
      printf "%.1f %.1f\n", (total - rest) / 1e6, total / 1e6
    }'
}
floor_phases='xmlReadFile|-|-|xmlSaveDoc|xmlFreeDoc'
tool_phases='load_document()|strip_blank_nodes(_xmlNode*)|run_migration()'
tool_phases+='|save_document_safely(char const*, _xmlDoc*)|xmlFreeDoc'
profile() { valgrind --tool=callgrind --callgrind-out-file="$data/profile" "$@" >/dev/null 2>&1; }
cpu='[.results[] | (.user + .system) * 1000] | @tsv'
for lib in debian 2.15; do
  floor=(${floors[$lib]} --output /tmp/floor.xml) up=(${tools[$lib]} "$oldest" "$newest")
  for size in 3MB 20MiB; do
    in=$data/$size.xml
    profile "${floor[@]}" "$in"
    echo "$lib $size floor $(phases "$data/profile" "$floor_phases")"
    profile "${up[@]}" "$in" /tmp/up.xml
    echo "$lib $size tool $(phases "$data/profile" "$tool_phases")"
    hyperfine -N -w 2 -r 20 --export-json "$data/cpu.json" -n floor "${floor[*]} $in" \
      -n upgrade "${up[*]} $in /tmp/up.xml" >&2
    echo "$lib $size cpu $(jq -r "$cpu" "$data/cpu.json")" \
      "$(peak "${floor[@]}" "$in") $(peak "${up[@]}" "$in" /tmp/up.xml)"
  done
done >"$data/targets"
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

for size in $sizes; do
  in=$data/$size.xml
  "$tool" "$oldest" "$newest" "$in" /tmp/upgraded.xml
  hyperfine -N -w 1 -m 5 --export-json "$data/$size.json" -n floor "xmllint --output /tmp/floor.xml $in" \
    -n upgrade "$tool $oldest $newest $in /tmp/up.xml" \
    -n downgrade "$tool $newest $oldest /tmp/upgraded.xml /tmp/down.xml" >&2
  echo "$size $(jq -r '[.results[].median] | @tsv' "$data/$size.json")" \
    "$(peak xmllint --output /tmp/floor.xml "$in") $(peak "$tool" "$oldest" "$newest" "$in" /tmp/up.xml)"
done >"$data/results"

strip -o "$data/stripped" "$tool"
gnuplot <<EOF
set terminal pngcairo size 900,560 font ",11"; set output "$root/docs/performance.png"
set title "cfgmigrate against libxml2's parse and save (xmllint --output), hyperfine medians"
set xlabel "input size (MiB)"; set ylabel "wall time (s)"; set logscale xy 2; set key top left
plot for [c=2:4] "$data/results" using 1:c with lp lw 2 title word("floor upgrade downgrade", c - 1)
EOF
# The targets of each libxml2 and size: instructions, CPU time (user + system, hyperfine's mean)
# and peak memory, each the upgrade's over the floor's.
target_rows() {
  awk -v lib="$1" '$1 != lib { next } $3 == "floor" { f = $10 } $3 == "tool" { t = $10 }
    $3 == "cpu" { printf "| %s | %.3fx (%.0f M vs %.0f M) | %.3fx (%.0f vs %.0f ms) | %.3fx (%.1f vs %.1f MB) |\n",
      $2 == "3MB" ? "3 MB" : "20 MiB", t / f, t, f, $5 / $4, $5, $4, $7 / $6, $7 / 1024, $6 / 1024 }' \
    "$data/targets"
}
# Millions of instructions of each phase, floor and upgrade, at both sizes.
phase_rows() {
  awk -v lib="$1" '$1 == lib && ($3 == "floor" || $3 == "tool") {
    printf "| %s %s |", $2 == "3MB" ? "3 MB" : "20 MiB", $3 == "tool" ? "upgrade" : "floor"
    for (i = 4; i <= 10; i++) printf " %s |", $i; print "" }' "$data/targets"
}
# The page's own sections ("## ") were measured by hand: they stay as they are.
kept=$(sed -n '/^## /,$p' "$root/docs/performance.md")
{
  cat <<EOF
# Performance

\`make bench\` on $(date -u +%F): $(uname -m), $(nproc) cores shared with others (load $load before the
runs, $load_after after the targets' runs),
Release build (\`-Os\`). Inputs from \`bench/generate.py\`: configurations of the oldest schema in
the build's namespaces, with thousands of firewall rules, interfaces, SSIDs and tunnels and four
portal images. The upgrade ($oldest to $newest) changes every step's elements; the downgrade takes
its output back. The floor: libxml2's own parse and save of the same file, \`xmllint --output OUT
IN\` with Debian's libxml2, and \`bench/floor.c\` (the same calls) with libxml2 2.15 as routers run
it, built without xmllint.

Bounds, each the upgrade's over the floor's: instructions (callgrind) at most 0.95, CPU time
(user + system, hyperfine's mean of 20 runs of each) at most 1.00 at 20 MiB, peak memory (GNU
time's maximum resident set, one run) at most 0.80.
EOF
  for lib in debian 2.15; do
    cat <<EOF

### libxml2 $(version $lib)$([ $lib = debian ] && echo " (Debian's)" || echo " (routers')")

| input | instructions | CPU time | peak memory |
|---|---:|---:|---:|
$(target_rows $lib)

Millions of instructions by phase (each function's inclusive cost): the parse, the strip of
blank text (0 where the parse kept and the steps added none), the steps' walk, the save, the
free, and the rest (start, command line, exit).

| run | parse | strip | steps | save | free | rest | total |
|---|---:|---:|---:|---:|---:|---:|---:|
$(phase_rows $lib)
EOF
  done
  cat <<EOF

### Time and memory against input size, Debian's libxml2

| MiB | floor s | upgrade s | ratio | downgrade s | ratio | floor peak MB | tool peak MB | ratio |
|---:|---:|---:|---:|---:|---:|---:|---:|---:|
$(awk '{ printf "| %d | %.3f | %.3f | %.2f | %.3f | %.2f | %.1f | %.1f | %.3f |\n",
  $1, $2, $3, $3 / $2, $4, $4 / $2, $5 / 1024, $6 / 1024, $6 / $5 }' "$data/results")

![time against input size](performance.png)

Wall times move by tens of percent with the machine's load; instruction counts do not.
The executable built against Debian's libxml2: $(stat -c %s "$data/stripped") bytes stripped,
text $(size "$tool" | awk 'NR == 2 { print $1 }') bytes (\`size\`), NEEDED: $(readelf -d "$tool" |
  sed -n 's/.*NEEDED.*\[\(.*\)\]/\1/p' | xargs).

EOF
  echo "$kept"
} >"$root/docs/performance.md"
