#!/usr/bin/env bash
# Mutation check of umbrex-render: one-line changes to preview/ that a user
# would notice (a wrong byte in a PNG, a probe starting too far off the
# surface, a file's up axis or camera ignored, a skinned character lying in
# its bind space, helper geometry framed, a page that shows a stale image), each applied in turn to a scratch copy of the sources
# (build-preview-mutation/src), built there and run against the preview
# host's tests. A change that every test survives is a fault the suite would
# miss. The texts are checked like the library's (scripts/mutation.sh).
#
#   bash scripts/preview-mutation.sh          a share of the list, a different
#                                             share for each commit
#   PREVIEW_MUTANTS=all bash scripts/preview-mutation.sh    the whole list
#
# A share is every STRIDE-th change from an offset taken from the commit,
# STRIDE chosen so that about PREVIEW_MUTANTS_PER_RUN (default 4) changes
# run, a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages cmake make g++ libgtest-dev googletest libembree-dev libopenexr-dev libstb-dev \
  libtinyobjloader-dev libcli11-dev libassimp-dev libminizip-dev pkg-config libcpp-httplib-dev chromium chromium-driver python3-selenium

# name | file | original | replacement; \n in the texts is a line break.
all_mutants=(
  "PNG not sRGB-encoded|preview/render/image_output.cpp|srgb_encode(channel / divide)|(channel / divide)"
  "PNG colour not divided by the coverage|preview/render/image_output.cpp|alpha > 0.0f && alpha < 1.0f ? alpha : 1.0f|1.0f"
  "probe start scaled by its coordinate|preview/scene/ray_tracer.h|    return moved;|    return coordinate + std::abs(coordinate) / 128.0f * direction;"
  "the file's up axis ignored|preview/render/preview_session.cpp|up_(options.up.value_or(scene_.up.value_or(UpAxis::y)))|up_(options.up.value_or(UpAxis::y))"
  "attachment flag at the word's index|preview/shading/parameter_record.cpp|words_[(static_cast<std::size_t>(ghost_offs_) + p.offset) / 4] = 1;|words_[static_cast<std::size_t>(ghost_offs_) / 4 + p.offset] = 1;"
  "record without zeros past its end|preview/shading/parameter_record.cpp|record_padding = 1024|record_padding = 0"
  "checker complements alpha|preview/shading/attachments.cpp|out[i] = odd && !alpha ? 1.0f - value[i] : value[i];|out[i] = odd ? 1.0f - value[i] : value[i];"
  "outline normal not bent back|preview/shading/surface_normals.cpp|    if (height >= lowest)\n        return {ng, n};|    if (true)\n        return {ng, n};"
  "shading normal left on the far side|preview/shading/surface_normals.cpp|    if (dot(n, ng) < 0.0f)\n        n = -n;|"
  "image as wide as high|preview/scene/camera.cpp|half_width_ = half_height_ * static_cast<float>(width) / static_cast<float>(height);|half_width_ = half_height_;"
  "sky's zenith along x|preview/shading/environment.cpp|const float up = direction.y / l;|const float up = direction.x / l;"
  "lattice step one short|preview/shading/sampler.cpp|(std::uint64_t{1} << 32) / count)|(std::uint64_t{1} << 32) / (count + 1))"
  "a skinned mesh left in its bind space|preview/scene/skinning.cpp|const Affine skin = joint->second * Affine::from(bone->mOffsetMatrix);|const Affine skin = Affine::from(bone->mOffsetMatrix);"
  "a 3DS camera placed twice|preview/scene/scene_import.cpp|        read.eye = root.point(file.eye);|        read.eye = transform.point(file.eye);"
  "helper geometry framed|preview/render/preview_session.cpp|return framing_camera(framing_.bounds, mesh_.origin, aspect, up_);|return framing_camera(mesh_, aspect, up_);"
  "a hidden mesh kept|preview/scene/scene_import.cpp|        if (!shown(summary, visit)) {|        if (false) {"
  "a mirrored instance turned inside out|preview/scene/scene_import.cpp|                if (mirrored)\n                    std::swap(t[1], t[2]);|"
  "FBX units upside down|preview/scene/scene_import.cpp|imported.units_per_metre = 100.0 / *centimetres;|imported.units_per_metre = *centimetres / 100.0;"
  "a glTF camera placed twice|preview/scene/scene_import.cpp|transform.point(placement == CameraPlacement::gltf ? DVec3{} : to_double(camera.mPosition));|transform.point(to_double(camera.mPosition));"
  "the mesh traced where the file has it|preview/scene/mesh.cpp|mesh.origin = (b.low + b.high) * 0.5;|mesh.origin = {};"
  "an ear that holds another corner|preview/scene/polygon_triangulation.cpp|    return turn(a, b, p) >= 0.0 && turn(b, c, p) >= 0.0 && turn(c, a, p) >= 0.0;|    return false;"
  "an OBJ's vertex normals ignored|preview/scene/obj_loader.cpp|                    if (has_normals)\n|                    if (false)\n"
  "a reference outside the scene's folder read|preview/scene/scene_folder.cpp|    if (path.rfind(prefix, 0) != 0) {|    if (false) {"
  "an index past the positions handed over|preview/import/scene_transfer.cpp|    if (largest >= mesh.positions.size()) {|    if (false) {"
  "probe distance in multiples of its direction|preview/shading/host_functions.cpp|state->child->dist = multiples * length_of_d;|state->child->dist = multiples;"
  "yes/no probes closed only halfway to the start|preview/shading/host_functions.cpp|s.yes_no_within = static_cast<float>(s.falloff_start);|s.yes_no_within = static_cast<float>(s.falloff_start * 0.5);"
  "a pixel's rays summed, not averaged|preview/render/renderer.cpp|{sum.r / n, sum.g / n, sum.b / n,|{sum.r, sum.g, sum.b,"
  "every camera ray of a pixel on one pattern|preview/render/renderer.cpp|hash_seed(r.x, r.y, static_cast<std::uint32_t>(r.index))|hash_seed(r.x, r.y, 0u)"
  "16-bit PNG one level short|preview/render/image_output.cpp|quantise(channels[c], 65535)|quantise(channels[c], 65534)"
  "a texture's v running down|preview/bake/uv_layout.cpp|(1.0 - static_cast<double>(uv.v)) * height};|static_cast<double>(uv.v) * height};"
  "padding takes no mean|preview/bake/texel_padding.cpp|            const float k = 1.0f / static_cast<float>(count);|            const float k = 1.0f;"
  "the farther high surface taken|preview/bake/bake_surface.cpp|            reach = query.ray.tfar;  // the other way must come nearer|"
  "every pass with the same pattern|preview/shading/sampler.cpp|return pass == 0 ? seed_key(seed) : mix(hash_seed(seed, pass, 0x5A55E5u));|return seed_key(seed);"
  "page's pivot one unit before the lens|preview/page/assets/camera.js|const hit = await pick(state.camera, state.width / 2, state.height / 2).catch(() => null);|const hit = add(state.camera.eye, cameraAxes(state.camera).forward);"
  "copied command follows a refused value|preview/page/assets/progressive.js|return {state: page.good, samples:|return {state: page.state, samples:"
  "same-site pages admitted|preview/page/page_access.cpp|site == \"same-site\")|site == \"no-site\")"
  "a foreign Origin admitted|preview/page/page_access.cpp|    if (request.has_header(\"Origin\") && |    if (false && "
  "requests without the token admitted|preview/page/page_access.cpp|    if (needs_token && !same_token(|    if (false && !same_token("
  "work over the budget rendered|preview/page/render_admission.cpp|    if (work <= max_work)|    if (true)"
  "a repeated value taken|preview/page/query_parameters.cpp|        if (!slot.empty() && !among(repeatable, name))|        if (false)"
  "a value's NUL byte kept|preview/page/query_parameters.cpp|    if (out.find('\\0') != std::string::npos)|    if (false)"
)

scratch=build-preview-mutation
source scripts/mutation-common.sh

mutants=("${all_mutants[@]}")
if [[ ${PREVIEW_MUTANTS:-} != all ]]; then
  per_run=${PREVIEW_MUTANTS_PER_RUN:-4}
  stride=$(((${#all_mutants[@]} + per_run - 1) / per_run))
  commit=$(git rev-parse --short=7 HEAD 2>/dev/null || echo 0)
  offset=$((16#$commit % stride))
  mutants=()
  for ((i = offset; i < ${#all_mutants[@]}; i += stride)); do
    mutants+=("${all_mutants[i]}")
  done
  echo "preview mutation check: ${#mutants[@]} of ${#all_mutants[@]} changes (every ${stride}th from $offset;" \
    "PREVIEW_MUTANTS=all runs them all)"
fi

# A change to the page also runs the page's tests, in a client and in a browser.
run_tests() {
  local test
  for test in umbrex_declaration_tests umbrex_render_tests; do
    { timeout 600 "$build/tests/$test"; } >> "$log" 2>&1 || return 1
  done
  if [[ $1 == preview/page/* || -z $1 ]]; then
    { timeout 300 "$build/tests/umbrex_look_dev_tests"; } >> "$log" 2>&1 || return 1
    { timeout 300 /usr/bin/python3 tests/look_dev_page_test.py "$build/umbrex-render"; } >> "$log" 2>&1 || return 1
  fi
}

targets=(umbrex-render umbrex_declaration_tests umbrex_render_tests umbrex_look_dev_tests)
prepare_scratch
# The corpus of third-party models, read where the tests look for it.
[[ -e .corpus ]] && ln -sfn "$PWD/.corpus" "$src/.corpus"
check_mutants
