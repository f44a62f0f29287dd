#!/bin/bash
# Measures cfgmigrate against the floor, libxml2's own parse and save of the
# same file (xmllint), and its footprint; prints the table and writes
# docs/performance.md with docs/performance.png. `make bench` installs what
# it needs and runs it.
#
# Settings (environment): BENCH_SIZES (MiB, default "1 2 4 8 16 32 64"),
# BENCH_RUNS (measured runs per figure, median quoted; default 5),
# BENCH_SEED, BENCH_BUILD (build folder), BENCH_REFERENCE_TOOL (another
# cfgmigrate whose outputs must equal this one's byte for byte) and
# BENCH_REFERENCE_NAME (how the report names it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
data=$build/bench-data
sizes=${BENCH_SIZES:-"1 2 4 8 16 32 64"}
largest=$(echo "$sizes" | tr ' ' '\n' | sort -n | tail -n 1)
runs=${BENCH_RUNS:-5}
seed=${BENCH_SEED:-20170810}
image_hex_mib=64
upgrade=(v1.0.16-20170810 v1.4.09)
downgrade=(v1.4.09 v1.4.04)

say() { printf '%s\n' "$*" >&2; }

build_release() {
  say "== Release build in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCFGMIGRATE_TESTS=OFF \
    -DCFGMIGRATE_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
}

generate_inputs() {
  mkdir -p "$data"
  say "== Inputs (seed $seed)"
  local size
  for size in $sizes; do
    local file=$data/config-${size}MiB.xml
    [ -s "$file" ] || "$build/bench/generate_config" $((size * 1048576)) "$seed" "$file"
  done
  local images=$data/images-${image_hex_mib}MiB.xml
  [ -s "$images" ] ||
    "$build/bench/generate_config" --images-only $((image_hex_mib * 1048576)) "$seed" "$images"
}

# The tool writes its portal images to /tmp/cpp_*.jpg: every run happens in
# a private mount namespace whose /tmp is a fresh tmpfs, and whose /dev/log
# is no socket, so neither the real /tmp nor syslog sees the benchmark.
run_private() {
  local isolate=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || isolate=(unshare --map-root-user --mount --propagation private)
  if ! "${isolate[@]}" true 2>/dev/null; then
    say "bench: cannot make a private mount namespace (unshare); refusing to write to /tmp"
    exit 1
  fi
  "${isolate[@]}" "$0" --measure
}

# Per command: median, fastest, slowest seconds, peak KiB, CPU seconds.
measure() { "$build/bench/measure" "$runs" "$@"; }

measure_all() {
  mount -t tmpfs -o size=2g bench-tmp /tmp
  if [ -S /dev/log ]; then mount --bind /dev/null /dev/log; fi
  local tool=$build/cfgmigrate results=$data/results.txt size
  : >"$results"
  local load_before
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  for size in $sizes; do
    local input=$data/config-${size}MiB.xml
    say "== ${size} MiB"
    # Tool and floor alternate, so that a busy machine slows both alike.
    local pair up floor down floor_down
    pair=$(measure "$tool" "${upgrade[@]}" "$input" /tmp/upgraded.xml :: \
      xmllint --output /tmp/floor.xml "$input")
    up=$(sed -n 1p <<<"$pair")
    floor=$(sed -n 2p <<<"$pair")
    pair=$(measure "$tool" "${downgrade[@]}" /tmp/upgraded.xml /tmp/downgraded.xml :: \
      xmllint --output /tmp/floor-down.xml /tmp/upgraded.xml)
    down=$(sed -n 1p <<<"$pair")
    floor_down=$(sed -n 2p <<<"$pair")
    check_reference "$input"
    echo "$size $(stat -c %s "$input") $up $floor $down $floor_down" \
      "$(sha256sum </tmp/upgraded.xml | cut -c1-16) $(sha256sum </tmp/downgraded.xml | cut -c1-16)" \
      >>"$results"
    rm -f /tmp/*.xml /tmp/cpp_*.jpg
  done
  if [ -n "${BENCH_REFERENCE_TOOL:-}" ]; then
    say "== reference build at ${largest} MiB"
    measure "$BENCH_REFERENCE_TOOL" "${upgrade[@]}" "$data/config-${largest}MiB.xml" \
      /tmp/reference.xml :: "$tool" "${upgrade[@]}" "$data/config-${largest}MiB.xml" /tmp/tool.xml \
      :: xmllint --output /tmp/floor.xml "$data/config-${largest}MiB.xml" >"$data/reference.txt"
    rm -f /tmp/*.xml /tmp/cpp_*.jpg
  fi
  say "== phases at ${largest} MiB"
  local i
  for i in $(seq "$runs"); do
    "$build/bench/phase_times" tool "$data/config-${largest}MiB.xml" /tmp/phases.xml
    "$build/bench/phase_times" floor "$data/config-${largest}MiB.xml" /tmp/phases.xml
    rm -f /tmp/*.xml /tmp/cpp_*.jpg
  done | median_phases >"$data/phases.txt"
  say "== image conversion"
  "$build/bench/image_throughput" "$data/images-${image_hex_mib}MiB.xml" "$runs" \
    >"$data/images.txt"
  echo "$load_before (1, 5, 15 minutes) at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end" \
    >"$data/load.txt"
}

# Lines "phase seconds ..." of the tool (5 phases) and the floor (3), in
# turn; prints the median of each phase, the tool's line first.
median_phases() {
  awk '{ key = NF == 10 ? "tool" : "floor"; n[key]++
    for (f = 1; f < NF; f += 2) { name[key, f] = $f; value[key, f, n[key]] = $(f + 1); fields[key] = NF } }
    function median(key, f,   i, j, k, t, v) {
      k = n[key]; for (i = 1; i <= k; i++) v[i] = value[key, f, i]
      for (i = 2; i <= k; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
      return v[int((k + 1) / 2)] }
    END { split("tool floor", keys, " ")
      for (i = 1; i <= 2; i++) { key = keys[i]; printf "%s", key
        for (f = 1; f < fields[key]; f += 2) printf " %s %s", name[key, f], median(key, f)
        printf "\n" } }'
}

# With BENCH_REFERENCE_TOOL, an optimised build must write the same bytes.
check_reference() {
  local input=$1 reference=${BENCH_REFERENCE_TOOL:-}
  [ -n "$reference" ] || return 0
  "$reference" "${upgrade[@]}" "$input" /tmp/reference-up.xml
  "$reference" "${downgrade[@]}" /tmp/upgraded.xml /tmp/reference-down.xml
  cmp /tmp/upgraded.xml /tmp/reference-up.xml
  cmp /tmp/downgraded.xml /tmp/reference-down.xml
}

# Least squares slope of ln(seconds) against ln(size): 1 is linear.
fit_exponent() {
  awk -v column="$1" '{ x = log($2); y = log($column); n++; sx += x; sy += y;
    sxx += x * x; sxy += x * y }
    END { printf "%.3f", (n * sxy - sx * sy) / (n * sxx - sx * sx) }' "$data/results.txt"
}

# The time factor of one doubling of the input, by the fitted exponent.
doubling_of_fit() {
  awk -v e="$(fit_exponent "$1")" 'BEGIN { printf "%.2fx", exp(e * log(2)) }'
}

# Largest ratio of the time at one size to the time at half of it.
worst_doubling() {
  awk -v column="$1" '{ t[$1] = $column } END { worst = 0
    for (s in t) if ((s / 2) in t && t[s] / t[s / 2] > worst) {
      worst = t[s] / t[s / 2]; at = s }
    printf "%.2fx (%d MiB)", worst, at }' "$data/results.txt"
}

footprint() {
  local binary=$build/cfgmigrate stripped=$data/cfgmigrate.stripped
  strip -o "$stripped" "$binary"
  stripped_bytes=$(stat -c %s "$stripped")
  needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd, - |
    sed 's/,/, /g')
  if nm -C -D "$binary" | grep -qE 'ios_base|std::(basic_)?[io]?stream|cout|cerr'; then
    iostream="uses iostream"
  else
    iostream="no iostream symbol"
  fi
  # Static constructors of our own objects would sit in their .init_array
  # (or .ctors) sections; the executable's one entry is the C runtime's.
  local objects constructors=0 object
  objects=$(find "$build/CMakeFiles/cfgmigrate.dir" "$build/CMakeFiles/cfgmigrate_core.dir" \
    -name '*.o')
  for object in $objects; do
    if readelf -S "$object" | grep -qE '\.init_array|\.ctors'; then
      constructors=$((constructors + 1))
      say "bench: static constructor in $object"
    fi
  done
  static_constructors=$constructors
  local init_array_hex
  init_array_hex=$(objdump -h "$binary" | awk '$2 == ".init_array" { print $3 }')
  init_array_entries=$((16#${init_array_hex:-0} / 8))
}

# Columns of results.txt: 1 size, 2 bytes, 3-7 upgrade, 8-12 floor,
# 13-17 downgrade, 18-22 floor of the downgrade input, 23-24 checksums.
# Within each group: median s, fastest, slowest, peak KiB, CPU s.
table() {
  awk '
    function row(name, t, f, pt, pf, ct, cf) {
      printf "| %s | %d | %.3f | %.3f | %.2f | %.1f | %.1f | %.2f | %.3f | %.3f | %.2f |\n",
        name, $1, t, f, t / f, pt / 1024, pf / 1024, pt / pf, ct, cf, ct / cf }
    BEGIN {
      print "| run | MiB | tool s | floor s | ratio | tool peak MB | floor peak MB | ratio | tool CPU s | floor CPU s | CPU ratio |"
      print "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|" }
    { row("upgrade", $3, $8, $6, $11, $7, $12) }
    { row("downgrade", $13, $18, $16, $21, $17, $22) }' "$data/results.txt"
}

plot() {
  mkdir -p "$root/docs"
  awk '{ print $1, $3, $8, $13, $18 }' "$data/results.txt" >"$data/times.dat"
  gnuplot <<EOF
set terminal pngcairo size 900,560 font ",11"
set output "$root/docs/performance.png"
set title "cfgmigrate against libxml2's parse and save (xmllint), median of $runs runs"
set xlabel "input size (MiB)"
set ylabel "wall time (s)"
set logscale xy 2
set key top left
set grid
plot "$data/times.dat" using 1:2 with linespoints lw 2 title "cfgmigrate upgrade v1.0.16 -> v1.4.09", \
     "$data/times.dat" using 1:3 with linespoints lw 2 dt 2 title "xmllint, same input", \
     "$data/times.dat" using 1:4 with linespoints lw 2 title "cfgmigrate downgrade v1.4.09 -> v1.4.04", \
     "$data/times.dat" using 1:5 with linespoints lw 2 dt 2 title "xmllint, upgraded input"
EOF
}

write_report() {
  # A section measured once by hand (a before and after) is kept as it is.
  local kept
  kept=$(sed -n '/^## Footprint without the C++ runtime/,/^## /{/^## Where/!p}' "$root/docs/performance.md" 2>/dev/null)
  local hex_bytes image_seconds image_rate last_row
  read -r hex_bytes image_seconds image_rate <"$data/images.txt"
  last_row=$(tail -n 1 "$data/results.txt")
  mkdir -p "$root/docs"
  {
    echo "# Performance"
    echo
    echo "Measured by \`make bench\` on $(date -u +%Y-%m-%d) ($(nproc) cores," \
      "$(uname -m), libxml2 $(xmllint --version 2>&1 | sed -n 's/.*using libxml version //p')," \
      "$(g++ -dumpfullversion 2>/dev/null | sed 's/^/g++ /'))."
    echo "Inputs: generated configurations of the oldest schema (v1.0.16-20170810), indented"
    echo "as saved, seed $seed (\`bench/generate_config\`): thousands of firewall rules,"
    echo "interfaces, SSIDs and IPsec tunnels, and two portal profiles whose hex images reach"
    echo "500 KB from 16 MiB up. The floor is \`xmllint --output OUT IN\`: libxml2 parsing the"
    echo "same input with its default options and saving it. Each figure is the median of"
    echo "$runs runs after one warm-up run, tool and floor taking turns; outputs go to a private"
    echo "tmpfs. Peak memory is the process's maximum resident set (wait4). The upgrade"
    echo "crosses all seven steps; the downgrade runs on the upgrade's output."
    echo
    table
    echo
    echo "![time against input size](performance.png)"
    echo
    echo "## Targets"
    echo
    echo "| target | bound | measured |"
    echo "|---|---|---|"
    echo "$last_row" | awk '{ printf "| upgrade time at %d MiB | <= 1.10x floor | %.2fx wall (%.3f s vs %.3f s), %.2fx CPU |\n", $1, $3 / $8, $3, $8, $7 / $12
      printf "| upgrade peak memory at %d MiB | <= 1.05x floor | %.3fx (%.1f MB vs %.1f MB) |\n", $1, $6 / $11, $6 / 1024, $11 / 1024 }'
    echo "| scaling: fitted exponent of time against size, $(echo $sizes | tr ' ' ',') MiB (log-log least squares) | 1 | wall: upgrade $(fit_exponent 3), downgrade $(fit_exponent 13), floor $(fit_exponent 8); CPU: upgrade $(fit_exponent 7), downgrade $(fit_exponent 17), floor $(fit_exponent 12) |"
    echo "| doubling the input | <= 2.1x time | by the fit (2^exponent): upgrade $(doubling_of_fit 3) wall, $(doubling_of_fit 7) CPU; downgrade $(doubling_of_fit 13) wall, $(doubling_of_fit 17) CPU. Worst single doubling: upgrade $(worst_doubling 3) wall, $(worst_doubling 7) CPU; downgrade $(worst_doubling 13) wall, $(worst_doubling 17) CPU |"
    echo "| image conversion (hex text through decode, file write, read-back, Base64) | >= 200 MB/s | $image_rate MB/s ($hex_bytes bytes of hex in $image_seconds s) |"
    echo "| stripped Release executable, $(uname -m) | <= 48 KiB | $stripped_bytes bytes ($(awk -v b="$stripped_bytes" 'BEGIN { printf "%.1f", b / 1024 }') KiB) |"
    echo
    echo "Dynamic dependencies (NEEDED): $needed. Iostream: $iostream."
    echo "Static constructors in our objects: $static_constructors; the executable's"
    echo ".init_array holds $init_array_entries entry (the C runtime's own frame_dummy)."
    echo
    [ -z "$kept" ] || printf '%s\n\n' "$kept"
    echo "## Where the time goes"
    echo
    echo "CPU seconds per phase at $largest MiB, median of $runs runs each (\`bench/phase_times\`);"
    echo "the floor's phases are the libxml2 calls xmllint makes for \`--output\`."
    echo
    echo "| | parse | steps | strip blanks | save | free | total |"
    echo "|---|---:|---:|---:|---:|---:|---:|"
    awk '$1 == "tool" { printf "| cfgmigrate | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n", $3, $5, $7, $9, $11, $3 + $5 + $7 + $9 + $11 }
      $1 == "floor" { printf "| floor | %.3f | | | %.3f | %.3f | %.3f |\n", $3, $5, $7, $3 + $5 + $7 }' "$data/phases.txt"
    echo
    echo "The tool parses as libxml2 does (the same parser, the same tree; names and"
    echo "short texts shared as xmllint's defaults share them), so what it adds is its own"
    echo "work: the steps' queries over the tree (the wireless steps visit every SSID and"
    echo "every interface), unlinking and freeing every blank text node before saving,"
    echo "and the indented save (\`xmlSaveFormatFileEnc\` with format 1 writes each"
    echo "indentation and line end as calls of its own, where xmllint copies the input's"
    echo "blank text). A large tree is bound by memory: page faults while it is built,"
    echo "cache misses on every walk."
    echo
    echo "Load average during the measurement: $(cat "$data/load.txt")."
    echo "On a busy machine wall times vary by tens of percent from run to run, CPU times less."
    echo
    if [ -n "${BENCH_REFERENCE_TOOL:-}" ]; then
      echo "## Against the reference build"
      echo
      echo "The reference: ${BENCH_REFERENCE_NAME:-$BENCH_REFERENCE_TOOL}. Every upgrade and"
      echo "downgrade output above was compared byte for byte with the reference's on the same"
      echo "input: identical. The full upgrade at $largest MiB, the three taking turns:"
      echo
      echo "| build | wall s | CPU s | peak MB |"
      echo "|---|---:|---:|---:|"
      awk 'BEGIN { split("reference,cfgmigrate,floor (xmllint)", names, ",") }
        { printf "| %s | %.3f | %.3f | %.1f |\n", names[NR], $1, $5, $4 / 1024 }' "$data/reference.txt"
      echo
    fi
    echo "Output checksums (first 16 hex digits of SHA-256), upgrade and downgrade, per size:"
    echo
    awk '{ printf "- %d MiB: %s %s\n", $1, $23, $24 }' "$data/results.txt"
  } >"$root/docs/performance.md"
}

if [ "${1:-}" = "--measure" ]; then
  measure_all
  exit 0
fi

build_release
generate_inputs
run_private
footprint
plot
write_report
say "== Results (docs/performance.md)"
sed -n '/^| run/,/^$/p;/^## Targets/,$p' "$root/docs/performance.md"
