#include "preview/shading/surface_normals.h"

#include <algorithm>
#include <cmath>

SurfaceNormals facing_normals(Vec3 geometric, Vec3 interpolated, Vec3 direction)
{
    const Vec3 to_viewer = -direction;
    Vec3 ng = normalized(geometric);
    if (dot(ng, to_viewer) < 0.0f)
        ng = -ng;
    Vec3 n = normalized(interpolated);
    if (!is_finite(n) || length(n) == 0.0f)
        return {ng, ng};
    if (dot(n, ng) < 0.0f)
        n = -n;

    // The reflection must rise at least this far above the surface: a little,
    // or less at grazing views, where the viewer itself is barely above it.
    const float lowest = std::min(0.9f * dot(ng, to_viewer), 0.01f);
    const Vec3 reflection = n * (2.0f * dot(n, to_viewer)) - to_viewer;
    const float height = dot(reflection, ng);
    if (height >= lowest)
        return {ng, n};

    // Lift the reflection to that height, keeping its heading along the
    // surface, and take the normal halfway between it and the viewer.
    Vec3 along = reflection - ng * height;
    if (length(along) == 0.0f)
        along = -(to_viewer - ng * dot(to_viewer, ng));
    if (length(along) == 0.0f)
        return {ng, ng};
    const Vec3 lifted = normalized(along) * std::sqrt(1.0f - lowest * lowest) + ng * lowest;
    return {ng, normalized(to_viewer + lifted)};
}
