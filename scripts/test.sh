#!/usr/bin/env bash
# Builds the shader library for Linux (build/) and for 64-bit Windows
# (build-win64/, cross-built with MinGW-w64), fetches the corpus of
# third-party models (.corpus/), and runs every test: the Linux tests, the
# same scripted-host tests against the DLL under Wine, and the comparison of
# the two builds' results; then the mutation check and the robustness runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make g++ binutils libgtest-dev googletest libbenchmark-dev g++-mingw-w64-x86-64 wine64 \
  libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev libcli11-dev libassimp-dev libminizip-dev pkg-config libcpp-httplib-dev \
  chromium chromium-driver python3-selenium

bash scripts/fetch-corpus.sh

jobs=$(nproc)
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-win64 -j"$jobs"
cmake -S . -B build -DBUILD_TESTING=ON -DUMBREX_WIN64_BUILD="$PWD/build-win64"
cmake --build build -j"$jobs"

ctest --test-dir build-win64 --output-on-failure -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# One-line changes to the library, and a share of those to umbrex-render,
# that the tests must catch.
bash scripts/mutation.sh
bash scripts/preview-mutation.sh

# Sanitizers, concurrency and fuzzing.
bash scripts/robustness.sh
