// Rays against the scene, traced with Embree: watertight, so that no ray
// slips through the edge two triangles share.
#ifndef UMBREX_PREVIEW_RAY_TRACER_H
#define UMBREX_PREVIEW_RAY_TRACER_H

#include <embree3/rtcore.h>

#include <stdexcept>

#include "preview/scene/mesh.h"

struct RayHit {
    std::uint32_t triangle;
    float u, v;             // barycentric weights of the second and third corner
    Vec3 geometric_normal;  // not of unit length, on the side the triangle's winding gives
};

// No triangle: for rays that may hit any.
constexpr std::uint32_t no_triangle = 0xFFFFFFFFu;

// A point moved off a surface along n (the side to leave by, unit length) by
// a few hundred units in the last place of its own coordinates: far enough
// for the rounding of a point computed on the surface, whatever the scene's
// size or place (the integer-offset method of robust ray tracers).
Vec3 offset_from_surface(Vec3 point, Vec3 n);

struct RayTracerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class RayTracer {
public:
    // Builds the acceleration structure over the mesh, which must outlive this.
    explicit RayTracer(const Mesh &mesh);
    ~RayTracer();
    RayTracer(const RayTracer &) = delete;
    RayTracer &operator=(const RayTracer &) = delete;

    // The nearest hit along a unit direction from origin.
    bool intersect(Vec3 origin, Vec3 direction, RayHit &hit) const;

    // The distance to the nearest hit along a unit direction from origin, up
    // to max_distance, passing through the triangle `skip` (the one a probe
    // starts on).
    bool hit_distance(Vec3 origin, Vec3 direction, float max_distance, std::uint32_t skip, float &distance) const;

    const Mesh &mesh() const { return mesh_; }
    RTCScene scene() const { return scene_; }

private:
    // Traces one ray; true on a hit, whose details are then in query.
    bool trace(Vec3 origin, Vec3 direction, float max_distance, std::uint32_t skip, RTCRayHit &query) const;

    const Mesh &mesh_;
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
};

#endif
