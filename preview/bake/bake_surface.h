// Where the shader runs for a point of the mesh being baked: at the point
// itself, or, baking a high-resolution model onto a low one, where the
// point's normal meets the high model within a cage distance. Either way the
// shader sees a state as at a camera hit whose viewing direction is the
// reverse of the shaded surface's normal.
#ifndef UMBREX_PREVIEW_BAKE_SURFACE_H
#define UMBREX_PREVIEW_BAKE_SURFACE_H

#include <array>
#include <cstdint>

#include "preview/scene/mesh.h"
#include "preview/scene/ray_tracer.h"
#include "preview/shading/point_shader.h"

class BakeSurface {
public:
    // The baked mesh's own surface; the mesh must outlive this.
    explicit BakeSurface(const Mesh &baked);

    // The surface of the high model (both must outlive this) that a ray from
    // the baked mesh's point along its normal, one way or the other, meets
    // first, no farther than `cage`: the nearer of the two.
    BakeSurface(const Mesh &baked, const RayTracer &high, float cage);

    // The point to shade for barycentric weights on a triangle of the baked
    // mesh, relative to the origin of the mesh it lies on; false where the
    // high model has no surface within the cage.
    bool find(std::uint32_t triangle, const std::array<double, 3> &weights, SurfacePoint &at) const;

private:
    const Mesh &baked_;
    const RayTracer *high_ = nullptr;
    float cage_ = 0.0f;
    DVec3 shift_;  // from the high model's origin to the baked mesh's
};

#endif
