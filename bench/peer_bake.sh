#!/usr/bin/env bash
# umbrex-render --bake texture against Blender's Cycles baker, interleaved on
# this machine: both bake the ambient occlusion of the same generated scene
# (a subdivided ground with a sphere and a box, 23028 triangles, one UV
# layout) into the same texture, one point per texel, with cosine-distributed
# rays and a 1-unit cut-off (Cycles' AO bake; umbrex-render with spread 90
# and a falloff from 0.999 to 1 unit), no padding. For each sample count,
# over the rounds, each baker bakes one sample per texel and two seeds at the
# full count, the two bakers taking turns; every bake is listed with the
# machine's load. Then per sample count, from the fastest bakes:
#
# - texels per second: the texels baked over the time of the bake, for
#   umbrex-render the whole process (loading the library, the scene and its
#   ray-tracing structure, baking, writing), for Cycles the bake operator
#   (its scene sync and structure, baking; Blender's start and the OBJ
#   import left out);
# - the same over the time of the samples alone: a bake's time less that of
#   one sample per texel, scaled to the whole count;
# - the noise per texel from the two seeds (bench/image_noise --covered) and
#   the mean difference of the two bakers' maps over the texels both bake.
#
#   bash bench/peer_bake.sh            SIZE=512 SAMPLES="16 64" ROUNDS=3 THREADS=all
#
# Installs Blender from Debian when missing. Not part of CI: slow, and the
# figures are for docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/peer_setup.sh

size=${SIZE:-512} threads=${THREADS:-$(nproc)} rounds=${ROUNDS:-3} distance=1
sample_counts=(${SAMPLES:-16 64})
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
obj=$work/scene.obj
build/bench/render_throughput_bench --write-bake-scene "$obj"

now() { date +%s.%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }

echo "Machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(nproc) cores; ${size}x${size} texels," \
     "$threads threads each, $rounds interleaved rounds; $(blender --version 2> /dev/null | head -1)"
echo
echo "### Every bake"
echo
echo "| samples | round | baker | seed | samples baked | seconds (umbrex-render: process, bake) | texels | load average (1, 5, 15 min) |"
echo "|---|---|---|---|---|---|---|---|"
summary=()
for samples in "${sample_counts[@]}"; do
  best_u=1e30 best_ub=1e30 base_u=1e30 best_c=1e30 base_c=1e30 texels_u=0
  for ((round = 1; round <= rounds; ++round)); do
    umbrex() {
      local seed=$1 count=$2 start line seconds bake_seconds
      start=$(now)
      line=$(build/umbrex-render --bake texture --bake-size "$size" --padding 0 --threads "$threads" --seed "$seed" \
        --set samples="$count" --set falloff_start=0.999 --set falloff_stop=$distance --scene "$obj" \
        --output "$work/umbrex-$seed.exr")
      seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.4f", b - a }')
      bake_seconds=$(sed -n 's/.* probe rays, \([0-9.]*\) s,.*/\1/p' <<< "$line")
      texels_u=$(sed -n 's/.* samples, \([0-9]*\) texels baked.*/\1/p' <<< "$line")
      echo "| $samples | $round | umbrex-render | $seed | $count | $seconds, $bake_seconds | $texels_u | $(load) |"
      if ((count == 1)); then
        base_u=$(smaller "$base_u" "$seconds")
      else
        best_u=$(smaller "$best_u" "$seconds")
        best_ub=$(smaller "$best_ub" "$bake_seconds")
      fi
    }
    umbrex 0 1
    umbrex 1 "$samples"
    while read -r label _ count _ seed _ seconds; do
      [[ $label == cycles ]] || continue
      texels_c=$(build/bench/image_noise --covered "$work/cycles-$seed.exr" "$work/cycles-$seed.exr" | sed 's/.*pixels //')
      echo "| $samples | $round | Cycles | $seed | $count | $seconds | $texels_c | $(load) |"
      if ((count == 1)); then
        base_c=$(smaller "$base_c" "$seconds")
      else
        best_c=$(smaller "$best_c" "$seconds")
      fi
    done < <(blender --background --factory-startup --python bench/peer_bake_cycles.py -- "$obj" "$size" \
               "$samples" "$distance" "$threads" "$work/cycles" 1 2 2> /dev/null | grep -E '^(cycles|warm-up) samples ')
    umbrex 2 "$samples"
  done
  read -r _ _ _ noise_u _ _ _ _ _ _ _ _ < <(build/bench/image_noise --covered "$work/umbrex-1.exr" "$work/umbrex-2.exr")
  read -r _ _ _ noise_c _ _ _ _ _ _ _ texels_c < <(build/bench/image_noise --covered "$work/cycles-1.exr" "$work/cycles-2.exr")
  read -r _ _ _ _ _ _ _ _ _ difference _ both < <(build/bench/image_noise --covered "$work/umbrex-1.exr" "$work/cycles-1.exr")
  summary+=("$(awk -v n="$samples" -v tu="$texels_u" -v tc="$texels_c" -v u="$best_u" -v ub="$best_ub" -v c="$best_c" \
      -v bu="$base_u" -v bc="$base_c" -v nu="$noise_u" -v nc="$noise_c" -v d="$difference" -v both="$both" 'BEGIN {
    su = (u - bu) * n / (n - 1); sc = (c - bc) * n / (n - 1)
    printf "| %d | %d | %d | %.3f (%.3f) | %.3f | %.0f | %.0f | %.1f | %.0f | %.0f | %.1f | %.4f | %.4f | %+.4f over %d |", n, tu, tc,
           u, ub, c, tu / u, tc / c, (tu / u) / (tc / c), tu / su, tc / sc, (tu / su) / (tc / sc), nu, nc, d, both }')")
done
echo
echo "### Fastest bakes"
echo
echo "| samples | texels, umbrex-render | texels, Cycles | umbrex-render (s: process, bake) | Cycles (s) |" \
     "umbrex-render (texels/s) | Cycles (texels/s) | umbrex / Cycles | samples alone: umbrex-render (texels/s) |" \
     "Cycles (texels/s) | umbrex / Cycles | noise per texel, umbrex-render | noise per texel, Cycles | mean difference |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${summary[@]}"
