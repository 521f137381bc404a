#!/usr/bin/env bash
# Builds the benchmarks in build/ and runs them, printing Markdown: the
# shader's cost per sample against the floor (timed, and in instructions
# counted by callgrind), Google Benchmark's own table, then umbrex-render's
# probe-ray throughput against Embree's, its CPU time per probe against the
# limit (Embree plus the shader's own time per sample) and its growth with
# scene size, and the load time and peak memory of a large OBJ with each scene
# reader. The comparison with Cycles is bench/peer_cycles.sh, run apart.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make g++ valgrind libbenchmark-dev libgtest-dev googletest \
  libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev libcli11-dev libassimp-dev libminizip-dev pkg-config libcpp-httplib-dev

# The build folder the tests use, with the tests left switched on, so that a
# benchmark run does not take them out of the next build there.
cmake -S . -B build -DBUILD_TESTING=ON > /dev/null
cmake --build build -j"$(nproc)" --target shader_overhead_bench render_throughput_bench look_dev_latency_bench scene_load_bench > /dev/null
bench=build/bench/shader_overhead_bench

echo "## Shader overhead (shader and floor timed in alternation, fastest of 200 rounds)"
echo
"$bench" --paired
echo
echo "## Instructions per sample (callgrind)"
echo
echo "| mode | samples | shader | floor | shader / floor |"
echo "|---|---|---|---|---|"
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect="$2" "$bench" --instructions "$1" "$3" "$4" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
for mode in colour environment bent_normal; do
  for samples in 16 256; do
    calls=$((32000 / samples))
    shader=$(instructions "$mode" Umbrex "$samples" "$calls")
    floor=$(instructions "$mode" floor_call "$samples" "$calls")
    awk -v m="$mode" -v n="$samples" -v s="$shader" -v f="$floor" \
      'BEGIN { printf "| %s | %d | %.1f | %.1f | %.2f |\n", m, n, s / 32000, f / 32000, s / f }'
  done
done
echo
echo "## Google Benchmark (median of 3)"
echo
echo '```'
"$bench" --benchmark_min_time=0.2 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>&1 |
  grep -E 'median|^Benchmark|^-|Run on|CPU|machine|L[123]'
echo '```'
echo
build/bench/render_throughput_bench
echo
echo "## Look-dev latency"
echo
build/bench/look_dev_latency_bench
echo
echo "## Loading a 1-million-triangle OBJ"
echo
build/bench/scene_load_bench
