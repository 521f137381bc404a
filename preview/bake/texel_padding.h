// Edge padding of a baked texture: rings of texels around each island take
// the island's edge values, so that filtering and mip-maps, which blend a
// texel with its neighbours, show no seam along the island's edge.
#ifndef UMBREX_PREVIEW_TEXEL_PADDING_H
#define UMBREX_PREVIEW_TEXEL_PADDING_H

#include <cstdint>
#include <vector>

#include "preview/render/image_output.h"

// What a texel of a bake holds.
enum class TexelState : std::uint8_t {
    empty,   // no triangle covers it
    baked,   // shaded
    missed,  // covered, but no surface was found to shade (high to low)
    padded,
};

// Fills up to `rings` rings of empty texels around the baked ones: each
// texel of a ring takes the mean of its baked or padded neighbours (of eight)
// from the rings before, colour and alpha alike. Missed texels stay as they
// are and pass nothing on.
void pad_texels(Image &image, std::vector<TexelState> &states, int rings);

#endif
