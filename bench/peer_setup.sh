# What the comparisons with the peer renderer need, sourced by
# bench/peer_cycles.sh and bench/peer_bake.sh: Blender and the build
# packages installed where missing, and umbrex-render with the benchmarks'
# scene writer and noise measure built.
source scripts/require-packages.sh
require_packages blender cmake make g++ libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev \
  libcli11-dev libassimp-dev pkg-config libcpp-httplib-dev libbenchmark-dev libgtest-dev googletest

cmake -S . -B build -DBUILD_TESTING=ON > /dev/null
cmake --build build -j"$(nproc)" --target umbrex-render render_throughput_bench image_noise > /dev/null
