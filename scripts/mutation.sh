#!/usr/bin/env bash
# Mutation check: one-line changes to the library (comparisons, precision,
# the order of host calls, bounds, cleared slots, how parameters are read),
# each applied in turn to a scratch copy of the sources (build-mutation/src),
# built there (build-mutation/build, configured once) and run against the
# scripted-host tests. A change that every test survives is a fault the suite
# would miss: the check lists the survivors and fails. Each change names its
# file, the exact text it replaces and the replacement; text that is not found
# exactly once fails the check, so the list cannot drift from the code.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make g++ libgtest-dev googletest \
  libembree-dev libopenexr-dev libpng-dev libstb-dev libtinyobjloader-dev libcli11-dev pkg-config libcpp-httplib-dev

# name | file | original | replacement; \n in the texts is a line break.
mutants=(
  "NaN hit closed|shader/occlusion_estimator.cpp|if (curve.start >= t)|if (!(t > curve.start))"
  "NaN hit open|shader/occlusion_estimator.cpp|if (t >= curve.stop)|if (!(curve.stop > t))"
  "hit at the start partial|shader/occlusion_estimator.cpp|if (curve.start >= t)|if (curve.start > t)"
  "hit at the stop partial|shader/occlusion_estimator.cpp|if (t >= curve.stop)|if (t > curve.stop)"
  "hit distance in double|shader/occlusion_estimator.cpp|const float t = static_cast<float>(state->child->dist);|const double t = state->child->dist;"
  "falloff exponent not inverted|shader/occlusion_estimator.cpp|exponent(1.0f / settings.falloff)|exponent(settings.falloff)"
  "environment after the probe|shader/occlusion_estimator.cpp|        look_up_(&environment_, state, &direction);\n        const miColor c = blend(classify_sample<trace>(state, direction, curve_),\n                                settings_.bright, settings_.dark);|        const miColor c = blend(classify_sample<trace>(state, direction, curve_),\n                                settings_.bright, settings_.dark);\n        look_up_(&environment_, state, &direction);"
  "no sample divides by zero|shader/occlusion_estimator.cpp|*result = counter == 0 ? settings.bright : sum.mean(counter);|*result = sum.mean(counter);"
  "bent normal of zero length not the axis|shader/occlusion_estimator.cpp|        if (length == 0.0f) {\n            const miVector &m = settings_.axis;|        if (length < 0.0f) {\n            const miVector &m = settings_.axis;"
  "trace ignored|shader/occlusion_estimator.cpp|    if (settings.trace)\n|    if (true)\n"
  "blend weights swapped|shader/occlusion_estimator.cpp|return {bright.r * keep + dark.r * k,|return {bright.r * k + dark.r * keep,"
  "environment alpha not weighted|shader/occlusion_estimator.cpp|c.a * e.a});|c.a});"
  "bent normal weighted by the occlusion|shader/occlusion_estimator.cpp|            weight_ += w;|            weight_ += occlusion.k;"
  "bias axis divided, not scaled by the reciprocal|shader/sampling_directions.cpp|        m.x *= reciprocal;|        m.x /= length;"
  "mean by the reciprocal of the count|shader/occlusion_estimator.cpp|return {sum_.r / n, sum_.g / n, sum_.b / n, sum_.a / n};|return {sum_.r * (1.0f / n), sum_.g * (1.0f / n), sum_.b * (1.0f / n), sum_.a * (1.0f / n)};"
  "sphere radius in single precision|shader/sampling_directions.h|const double radius = std::sqrt(1.0 - z * z);|const double radius = std::sqrt(static_cast<float>(1.0 - z * z));"
  "bias axis of NaN length unnormalised|shader/sampling_directions.cpp|if (length != 0.0f) {|if (length > 0.0f) {"
  "sphere point rounded early|shader/sampling_directions.h|const float x = static_cast<float>(std::cos(phi) * radius);|const float x = static_cast<float>(std::cos(phi)) * static_cast<float>(radius);"
  "spread not scaled by 180|shader/sampling_directions.h|const float s = spread_degrees / 180.0f;|const float s = spread_degrees / 90.0f;"
  "negative ghost_offs not attached|shader/parameter_reading.h|if (ghost_offs != 0) {|if (ghost_offs > 0) {"
  "ghost_offs read once|shader/parameter_reading.h|const int ghost_offs = state->shader|static thread_local const int ghost_offs = state->shader"
  "attached vector read in part|shader/parameter_reading.h|std::memcpy(&value, source, sizeof value);|std::memcpy(&value, address, sizeof value);\n    std::memcpy(&value, source, sizeof value == 12 ? 8 : sizeof value);"
  "null attachment flag ignored|shader/parameter_reading.h|if (attached != 0) {|if (true) {"
  "sampler given the record's samples|shader/umbrex_shader.cpp|estimate_occlusion(result, state, mode, settings, samples);|estimate_occlusion(result, state, mode, settings, params->samples);"
  "falloff set and restored on the bypass|shader/umbrex_shader.cpp|is_bypassed_ray_type(state->type)) {|is_bypassed_ray_type(state->type)) {\n        double falloff[2] = {0.0, 0.0};\n        mi_ray_falloff(state, &falloff[0], &falloff[1]);\n        mi_ray_falloff(state, &falloff[0], &falloff[1]);"
  "falloff restored before the result|shader/umbrex_shader.cpp|    estimate_occlusion(result, state, mode, settings, samples);\n\n    mi_ray_falloff(state, &host_falloff_start, &host_falloff_stop);|    mi_ray_falloff(state, &host_falloff_start, &host_falloff_stop);\n    estimate_occlusion(result, state, mode, settings, samples);"
  "negative samples as zero|shader/umbrex_shader.cpp|if (samples == 0) {|if (samples <= 0) {"
  "bypass on any non-zero value|shader/umbrex_shader.cpp|read_parameter(state, params->ray_type_bypass) == 1 &&|read_parameter(state, params->ray_type_bypass) != 0 &&"
  "parameters read out of order|shader/umbrex_shader.cpp|    const float spread = read_parameter(state, params->spread);\n    const float falloff = read_parameter(state, params->falloff);|    const float falloff = read_parameter(state, params->falloff);\n    const float spread = read_parameter(state, params->spread);"
  "ray type 18 not bypassed|shader/umbrex_shader.cpp|(1ul << 18)|(1ul << 17)"
  "ray type 15 not bypassed|shader/umbrex_shader.cpp|(0xFFul << 8)|(0x7Ful << 8)"
  "ray type 27 not bypassed|shader/umbrex_shader.cpp|(1ul << 27)|(1ul << 26)"
  "zero bias reads the bias direction|shader/umbrex_shader.cpp|if (bias > 0.0f)|if (bias >= 0.0f)"
  "bright and dark swapped|shader/umbrex_shader.cpp|const EstimatorSettings settings = {bright,       dark,|const EstimatorSettings settings = {dark,       bright,"
  "environment before bent normals|shader/umbrex_shader.cpp|const OutputMode mode = bent_normals  ? OutputMode::bent_normal\n                            : environment ? OutputMode::environment|const OutputMode mode = environment  ? OutputMode::environment\n                            : bent_normals ? OutputMode::bent_normal"
  "slot of mi_phen_eval kept bound|host/host_binding.cpp|        slot.store(nullptr, std::memory_order_release);|        if (&slot != &host_function_table[slot_mi_phen_eval]) slot.store(nullptr, std::memory_order_release);"
  "slot of mi_sample kept bound|host/host_binding.cpp|        slot.store(nullptr, std::memory_order_release);|        if (&slot != &host_function_table[slot_mi_sample]) slot.store(nullptr, std::memory_order_release);"
  "slot of mi_trace_probe kept bound|host/host_binding.cpp|        slot.store(nullptr, std::memory_order_release);|        if (&slot != &host_function_table[slot_mi_trace_probe]) slot.store(nullptr, std::memory_order_release);"
  "slot of mi_trace_environment kept bound|host/host_binding.cpp|        slot.store(nullptr, std::memory_order_release);|        if (&slot != &host_function_table[slot_mi_trace_environment]) slot.store(nullptr, std::memory_order_release);"
  "slot of mi_ray_falloff kept bound|host/host_binding.cpp|        slot.store(nullptr, std::memory_order_release);|        if (&slot != &host_function_table[slot_mi_ray_falloff]) slot.store(nullptr, std::memory_order_release);"
  "handle kept after a new one|host/host_binding.cpp|    host_module_handle.store(module, std::memory_order_release);|    if (!host_module_handle.load()) host_module_handle.store(module, std::memory_order_release);"
  "lookup not remembered|host/host_binding.cpp|host_function_table[slot].store(found.address, std::memory_order_release);|host_function_table[slot].store(nullptr, std::memory_order_release);"
  "null-handle message on a handle|host/host_binding.cpp|    if (!module)\n        std::fprintf(stderr, \"DYNLOAD|    if (module)\n        std::fprintf(stderr, \"DYNLOAD"
  "init request kept|host/lifecycle_exports.cpp|if (!params && init_request)|if (params && init_request)"
)

scratch=build-mutation
source scripts/mutation-common.sh
tests=(umbrex_host_tests umbrex_bare_host_tests)

run_tests() {
  local test
  for test in "${tests[@]}"; do
    # In braces, so that the shell's own word on a crash goes to the log too.
    { timeout 300 "$build/tests/$test"; } >> "$log" 2>&1 || return 1
  done
}

targets=(Umbrex alternate_host "${tests[@]}")
prepare_scratch
# The library is loaded by the test programs at run time: a change rebuilds
# the library alone.
targets=(Umbrex)
check_mutants
