// The vertex bake: a colour per vertex of the mesh. Shaded at the vertex
// itself, a sharp corner would take a spike of its own (a point in a crease
// sees the crease closed all round, a point on an edge half its
// hemisphere in the faces beyond); so a vertex's value averages points on
// each face around it, near it: within the corner of the face a fifth of
// the way to its other corners, each face weighted by its angle at the
// vertex.
#ifndef UMBREX_PREVIEW_VERTEX_BAKE_H
#define UMBREX_PREVIEW_VERTEX_BAKE_H

#include <cstdint>
#include <string>
#include <vector>

#include "preview/bake/bake_pass.h"
#include "preview/bake/bake_surface.h"
#include "preview/shading/shader_loader.h"
#include "preview/shading/shading_state.h"

// The points of a face around a vertex: the middle of the face's corner, or
// more jittered over it.
using VertexBakeSettings = BakePassSettings;

struct VertexBakeStatistics : BakePassStatistics {
    std::uint64_t points_shaded = 0;
    std::uint64_t vertices_missed = 0;  // none of whose points found a surface to shade
};

// How far into each face around a vertex its points lie: a fraction of the
// way to the face's other corners.
constexpr double vertex_corner_reach = 0.2;

// One colour per vertex of the mesh, in the order of its positions; (0, 0, 0,
// 0) for a vertex whose points all missed.
std::vector<miColor> bake_vertices(const LoadedShader &shader, const FrameScene &frame,
                                   miShaderRecord &shader_record, const Mesh &mesh, const BakeSurface &surface,
                                   const VertexBakeSettings &settings, VertexBakeStatistics &statistics);

#endif
