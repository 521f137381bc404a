#!/usr/bin/env bash
# umbrex-render against Blender's Cycles, back to back on this machine: both
# render a pure ambient-occlusion picture of the same generated scene, with
# the same camera, cosine-distributed rays and a 1-unit cut-off (Cycles' AO
# pass; umbrex-render with spread 90 and a falloff from 0.999 to 1 unit, a
# cut-off all but sharp whose probes reach no farther than 1 unit). For each
# sample count, two seeds each, the runs interleaved over the rounds, it
# prints the probe rays per second (the same rays, counted by umbrex-render,
# over each renderer's time for its samples: its fastest render less its
# fastest render of one sample per pixel, scaled to the count, which leaves
# out loading, BVH building, camera rays and writing the image), the
# per-image noise from the two seeds (bench/image_noise), the mean difference
# of the two renderers' pictures, and the time each needs for the same noise
# (its time scaled by the square of its noise over Cycles').
#
#   bash bench/peer_cycles.sh [TRIANGLES...]     default: 100000 1000000
#
# Installs Blender from Debian when missing. Not part of CI: slow, and the
# figures are for docs/PERFORMANCE.md.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages blender cmake make g++ libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev \
  libcli11-dev pkg-config libcpp-httplib-dev libbenchmark-dev libgtest-dev googletest

cmake -S . -B build -DBUILD_TESTING=ON > /dev/null
cmake --build build -j"$(nproc)" --target umbrex-render render_throughput_bench image_noise > /dev/null

width=${WIDTH:-640} height=${HEIGHT:-360} threads=${THREADS:-$(nproc)} rounds=${ROUNDS:-2}
sample_counts=(${SAMPLES:-16 64})
scenes=("$@")
((${#scenes[@]})) || scenes=(100000 1000000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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

echo "Machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(nproc) cores; ${width}x${height}," \
     "$threads threads each, fastest of $rounds interleaved rounds; $(blender --version 2>/dev/null | head -1)"
echo
echo "| triangles | samples | probe rays | umbrex-render (M rays/s) | Cycles (M rays/s) | umbrex / Cycles |" \
     "noise, umbrex-render | noise, Cycles | mean difference | time for Cycles' noise: umbrex-render (s) | Cycles (s) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for triangles in "${scenes[@]}"; do
  obj=$work/scene-$triangles.obj
  build/bench/render_throughput_bench --write-scene "$triangles" "$obj"
  read -r eye target fov < <(camera_of "$obj")
  for samples in "${sample_counts[@]}"; do
    best_u=1e30 best_c=1e30 base_u=1e30 base_c=1e30 rays=0
    for ((round = 0; round < rounds; ++round)); do
      for seed in 0 1 2; do  # seed 0 with one sample: the render's cost besides its samples
        count=$samples
        ((seed)) || count=1
        line=$(build/umbrex-render --scene "$obj" --camera "$eye:$target:$fov" --width "$width" --height "$height" \
          --threads "$threads" --seed "$seed" --set samples="$count" --set falloff_start=0.999 \
          --set falloff_stop=1 --output "$work/umbrex-$seed.exr")
        seconds=$(sed -n 's/.* probe rays, \([0-9.]*\) s,.*/\1/p' <<< "$line")
        if ((seed)); then
          rays=$(sed -n 's/.* samples, \([0-9]*\) probe rays.*/\1/p' <<< "$line")
          best_u=$(awk -v a="$best_u" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
        else
          base_u=$(awk -v a="$base_u" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
        fi
      done
      while read -r _ _ count _ seed _ seconds; do
        if ((seed)); then
          best_c=$(awk -v a="$best_c" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
        else
          base_c=$(awk -v a="$base_c" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
        fi
      done < <(blender --background --factory-startup --python bench/peer_cycles_render.py -- "$obj" "$eye" \
                 "$target" "$fov" "$width" "$height" "$samples" 1 "$threads" "$work/cycles" 1 2 2> /dev/null |
               grep '^cycles samples ')
    done
    # The time of the samples alone: a render's less that of one sample per
    # pixel, scaled to the whole count.
    sampling_u=$(awk -v t="$best_u" -v b="$base_u" -v n="$samples" 'BEGIN { print (t - b) * n / (n - 1) }')
    sampling_c=$(awk -v t="$best_c" -v b="$base_c" -v n="$samples" 'BEGIN { print (t - b) * n / (n - 1) }')
    read -r _ _ _ noise_u _ _ _ _ _ _ < <(build/bench/image_noise "$work/umbrex-1.exr" "$work/umbrex-2.exr")
    read -r _ _ _ noise_c _ _ _ _ _ _ < <(build/bench/image_noise "$work/cycles-1.exr" "$work/cycles-2.exr")
    read -r _ _ _ _ _ _ _ _ _ difference _ < <(build/bench/image_noise "$work/umbrex-1.exr" "$work/cycles-1.exr")
    awk -v t="$triangles" -v n="$samples" -v r="$rays" -v u="$sampling_u" -v c="$sampling_c" -v nu="$noise_u" \
        -v nc="$noise_c" -v d="$difference" 'BEGIN {
      printf "| %d | %d | %d | %.2f | %.2f | %.2f | %.4f | %.4f | %+.4f | %.3f | %.3f |\n", t, n, r, r / u / 1e6,
             r / c / 1e6, c / u, nu, nc, d, u * (nu / nc) ^ 2, c }'
  done
done
