#!/usr/bin/env bash
# umbrex-render against Blender's Cycles, back to back on this machine: both
# render a pure ambient-occlusion picture of the same generated scene, with
# the same camera, cosine-distributed rays and a hard 1-unit cut-off
# (umbrex-render with spread 90 and falloff_start = falloff_stop = 1, so that
# every probe is a yes/no question). Cycles renders it two ways
# (bench/peer_cycles_render.py): with the Ambient Occlusion shader node, N
# occlusion rays on one camera sample per pixel, the same work umbrex-render
# does and Cycles' fastest way to this picture (the node's "only local" is
# faster, and for a scene of one object the same picture); and with its
# ambient-occlusion pass over N path-tracing samples, for reference.
#
# For each sample count, two seeds each, the runs interleaved over the
# rounds, it prints for each way of Cycles one row: the probe rays per second
# (the same rays, counted by umbrex-render, over each renderer's own time for
# its samples: its fastest render less its fastest render of one sample per
# pixel, scaled to the count, which leaves out loading, BVH building, camera
# rays and writing the image), the per-image noise from the two seeds
# (bench/image_noise), the mean difference of the two renderers' pictures,
# and the time each needs for Cycles' noise (umbrex-render's time scaled by
# the square of its noise over Cycles'). Then every run's times, and the
# machine's load before and after.
#
#   bash bench/peer_cycles.sh [TRIANGLES...]     default: 100000 1000000
#   ROUNDS=3 SAMPLES="16 64" THREADS=2 WIDTH=640 HEIGHT=360 bash bench/peer_cycles.sh 100000
#
# Installs Blender from Debian when missing. Not part of CI: slow, and the
# figures are for docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/peer_setup.sh

width=${WIDTH:-640} height=${HEIGHT:-360} threads=${THREADS:-$(nproc)} rounds=${ROUNDS:-3}
sample_counts=(${SAMPLES:-16 64})
scenes=("$@")
((${#scenes[@]})) || scenes=(100000 1000000)
cut_off=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runs=$work/runs.md

# The camera umbrex-render frames a scene with (40 degrees, from the front
# right and above), worked out from the OBJ's bounds and given to both.
camera_of() {
  awk -v aspect="$width/$height" '
    /^v / { for (i = 2; i <= 4; ++i) { if (!(i in lo) || $i < lo[i]) lo[i] = $i; if (!(i in hi) || $i > hi[i]) hi[i] = $i } }
    END {
      split(aspect, a, "/"); aspect = a[1] / a[2]
      fx = -0.55; fy = -0.45; fz = -1; n = sqrt(fx*fx + fy*fy + fz*fz); fx /= n; fy /= n; fz /= n
      rx = -fz; ry = 0; rz = fx; n = sqrt(rx*rx + rz*rz); rx /= n; rz /= n          # forward x (0,1,0)
      ux = ry*fz - rz*fy; uy = rz*fx - rx*fz; uz = rx*fy - ry*fx                     # right x forward
      tv = sin(20 * 3.14159265358979 / 180) / cos(20 * 3.14159265358979 / 180); th = tv * aspect
      for (i = 2; i <= 4; ++i) c[i] = (lo[i] + hi[i]) / 2
      d = 1e-3
      for (k = 0; k < 8; ++k) {
        px = (k % 2 ? hi[2] : lo[2]) - c[2]; py = (int(k / 2) % 2 ? hi[3] : lo[3]) - c[3]; pz = (int(k / 4) ? hi[4] : lo[4]) - c[4]
        depth = px*fx + py*fy + pz*fz
        h = (px*rx + py*ry + pz*rz); h = (h < 0 ? -h : h) / th - depth; if (h > d) d = h
        v = (px*ux + py*uy + pz*uz); v = (v < 0 ? -v : v) / tv - depth; if (v > d) d = v
      }
      d *= 1.05
      printf "%.6f,%.6f,%.6f %.6f,%.6f,%.6f 40\n", c[2] - fx*d, c[3] - fy*d, c[4] - fz*d, c[2], c[3], c[4]
    }' "$1"
}

smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }
noise_of() { build/bench/image_noise "$1" "$2" | awk '{ print $4 }'; }
difference_of() { build/bench/image_noise "$1" "$2" | awk '{ print $10 }'; }

# One renderer's runs of a round, for the record: "renderer 1-sample seed-1 seed-2" in seconds.
record_run() { echo "| $triangles | $samples | $round | $1 | $2 | $3 | $4 |" >> "$runs"; }

# Cycles one way (node or pass) for a round: updates the fastest times of
# that way and records the run.
cycles_round() {
  local way=$1 base=1e30 times=()
  while read -r _ _ _ _ seed _ seconds; do
    if ((seed)); then
      times+=("$seconds")
      best[$way]=$(smaller "${best[$way]}" "$seconds")
    else
      base=$seconds
      one[$way]=$(smaller "${one[$way]}" "$seconds")
    fi
  done < <(blender --background --factory-startup --python bench/peer_cycles_render.py -- "$way" "$obj" "$eye" \
             "$target" "$fov" "$width" "$height" "$samples" "$cut_off" "$threads" "$work/$way" 1 2 2> /dev/null |
           grep '^cycles samples ')
  record_run "Cycles, AO $way" "$base" "${times[0]}" "${times[1]}"
}

echo "Machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(nproc) cores; ${width}x${height}," \
     "$threads threads each, fastest of $rounds interleaved rounds; $(blender --version 2>/dev/null | head -1)"
echo "Load before: $(uptime)"
echo
echo "| triangles | samples | Cycles' way | probe rays | umbrex-render (M rays/s) | Cycles (M rays/s) |" \
     "umbrex / Cycles | noise, umbrex-render | noise, Cycles | mean difference | time for Cycles' noise:" \
     "umbrex-render (s) | Cycles (s) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
echo "| triangles | samples | round | renderer | 1 sample per pixel (s) | seed 1 (s) | seed 2 (s) |" > "$runs"
echo "|---|---|---|---|---|---|---|" >> "$runs"
for triangles in "${scenes[@]}"; do
  obj=$work/scene-$triangles.obj
  build/bench/render_throughput_bench --write-scene "$triangles" "$obj"
  read -r eye target fov < <(camera_of "$obj")
  for samples in "${sample_counts[@]}"; do
    declare -A best=([umbrex]=1e30 [node]=1e30 [pass]=1e30) one=([umbrex]=1e30 [node]=1e30 [pass]=1e30)
    rays=0
    for ((round = 1; round <= rounds; ++round)); do
      times=()
      for seed in 0 1 2; do  # seed 0 with one sample: the render's cost besides its samples
        count=$samples
        ((seed)) || count=1
        line=$(build/umbrex-render --scene "$obj" --camera "$eye:$target:$fov" --width "$width" --height "$height" \
          --threads "$threads" --seed "$seed" --set samples="$count" --set falloff_start=$cut_off \
          --set falloff_stop=$cut_off --output "$work/umbrex-$seed.exr")
        # Its render time from its rate, which carries more digits than its seconds.
        read -r traced seconds < <(sed -n 's/.* samples, \([0-9]*\) probe rays, .* s, \([0-9.]*\) million.*/\1 \2/p' <<< "$line" |
                                   awk '{ printf "%d %.5f\n", $1, $1 / ($2 * 1e6) }')
        times+=("$seconds")
        if ((seed)); then
          rays=$traced
          best[umbrex]=$(smaller "${best[umbrex]}" "$seconds")
        else
          one[umbrex]=$(smaller "${one[umbrex]}" "$seconds")
        fi
      done
      record_run umbrex-render "${times[@]}"
      cycles_round node
      cycles_round pass
    done
    # The time of the samples alone: a render's less that of one sample per
    # pixel, scaled to the whole count.
    declare -A sampling
    for way in umbrex node pass; do
      sampling[$way]=$(awk -v t="${best[$way]}" -v b="${one[$way]}" -v n="$samples" 'BEGIN { print (t - b) * n / (n - 1) }')
    done
    noise_u=$(noise_of "$work/umbrex-1.exr" "$work/umbrex-2.exr")
    for way in node pass; do
      awk -v t="$triangles" -v n="$samples" -v w="AO $way" -v r="$rays" -v u="${sampling[umbrex]}" \
          -v c="${sampling[$way]}" -v nu="$noise_u" -v nc="$(noise_of "$work/$way-1.exr" "$work/$way-2.exr")" \
          -v d="$(difference_of "$work/umbrex-1.exr" "$work/$way-1.exr")" 'BEGIN {
        printf "| %d | %d | %s | %d | %.2f | %.2f | %.2f | %.4f | %.4f | %+.4f | %.3f | %.3f |\n", t, n, w, r,
               r / u / 1e6, r / c / 1e6, c / u, nu, nc, d, u * (nu / nc) ^ 2, c }'
    done
  done
done
echo
echo "Every run (each renderer's own render time; the fastest of each column above is the one used):"
echo
cat "$runs"
echo
echo "Load after: $(uptime)"
