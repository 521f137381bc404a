// The texture bake: every texel point that a triangle covers in UV space
// shaded at the matching point of the surface, texels shared among threads a
// tile at a time, then the edge padding.
#ifndef UMBREX_PREVIEW_TEXTURE_BAKE_H
#define UMBREX_PREVIEW_TEXTURE_BAKE_H

#include <cstdint>
#include <string>

#include "preview/bake/bake_pass.h"
#include "preview/bake/bake_surface.h"
#include "preview/bake/uv_layout.h"
#include "preview/render/image_output.h"
#include "preview/shading/shader_loader.h"
#include "preview/shading/shading_state.h"

// The points of a texel: its centre, or more jittered over it, each kept
// where a triangle covers it.
struct TextureBakeSettings : BakePassSettings {
    int padding = 16;  // rings of texels around each island
};

struct TextureBakeStatistics : BakePassStatistics {
    std::uint64_t texels_baked = 0;
    std::uint64_t texels_missed = 0;   // covered, but no surface found to shade
    std::uint64_t points_covered = 0;  // texel points some triangle covers
    std::uint64_t points_shared = 0;   // of those, points another triangle covers too
};

// Bakes the layout's texture: each texel the mean of the shader's results at
// its covered points (found on `surface`), the frame scene's tracer the
// occluding scene; texels no triangle covers (0, 0, 0, 0) but for the padding.
Image bake_texture(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                   const UVLayout &layout, const BakeSurface &surface, const TextureBakeSettings &settings,
                   TextureBakeStatistics &statistics);

#endif
