#!/usr/bin/env bash
# The robustness runs, with clang: every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-sanitize/), the concurrent-shading test
# under ThreadSanitizer (build-tsan/), each fuzz target for FUZZ_SECONDS
# seconds (default 60) from its seed corpus with a fixed seed, and as long
# the mutation campaign of scene files against umbrex-render.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make clang-14 libclang-rt-14-dev libgtest-dev libbenchmark-dev assimp-testmodels \
  libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev libcli11-dev libassimp-dev libminizip-dev pkg-config libcpp-httplib-dev

jobs=$(nproc)
seconds=${FUZZ_SECONDS:-60}
clang=(-DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo)

cmake -S . -B build-sanitize "${clang[@]}" -DUMBREX_SANITIZE=address,undefined -DUMBREX_FUZZ=ON
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

cmake -S . -B build-tsan "${clang[@]}" -DUMBREX_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target umbrex_host_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/umbrex_host_tests --gtest_filter='ConcurrentShading.*'

# New inputs go to a scratch copy of each corpus; a crash leaves its input in
# build-sanitize/ and fails the run.
for target in shade preview_input scene_conversion; do
  corpus=$(mktemp -d)
  log=build-sanitize/fuzz-$target.log
  cp fuzz/corpus/"$target"/* "$corpus"/
  echo "Fuzzing $target for $seconds s"
  status=0
  build-sanitize/fuzz/"$target"_fuzzer -seed=1 -max_total_time="$seconds" \
    -artifact_prefix=build-sanitize/"$target"- "$corpus" > "$log" 2>&1 || status=$?
  rm -rf "$corpus"
  if ((status != 0)); then
    tail -n 40 "$log" >&2
    echo "fuzz target $target failed (exit $status); the input that did it is in build-sanitize/" >&2
    exit 1
  fi
  grep -E 'DONE|^Done' "$log"
done

# Debian's test models of sixteen formats, broken the ways files break, each
# rendered by the sanitized umbrex-render: a picture or one line every time.
# A crash or hang of the program, or other output, fails the run and leaves
# the file in build-sanitize/import-campaign/.
work=$(mktemp -d)
echo "Mutating scene files for $seconds s"
status=0
build-sanitize/fuzz/import_campaign --program build-sanitize/umbrex-render --models /usr/share/assimp/models \
  --work "$work" --artifacts build-sanitize/import-campaign --seconds "$seconds" --seed 1 --jobs "$jobs" \
  --timeout 5 || status=$?
rm -rf "$work"
if ((status != 0)); then
  echo "the scene-file campaign failed (exit $status); the files that did it are in build-sanitize/import-campaign/" >&2
  exit 1
fi
