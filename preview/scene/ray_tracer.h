// Rays against the scene, traced with Embree.
#ifndef UMBREX_PREVIEW_RAY_TRACER_H
#define UMBREX_PREVIEW_RAY_TRACER_H

#include <embree3/rtcore.h>

#include <stdexcept>

#include "preview/scene/mesh.h"

struct RayHit {
    float distance;
    std::uint32_t triangle;
    float u, v;             // barycentric weights of the second and third corner
    Vec3 geometric_normal;  // unit, on the side the triangle's winding gives
};

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

    // The nearest hit along a unit direction from origin, up to max_distance.
    bool intersect(Vec3 origin, Vec3 direction, float max_distance, RayHit &hit) const;

    // The same for a probe, which needs only the distance.
    bool hit_distance(Vec3 origin, Vec3 direction, float max_distance, float &distance) const;

    const Mesh &mesh() const { return mesh_; }
    RTCScene scene() const { return scene_; }

private:
    // Traces one ray; true on a hit, whose details are then in query.
    bool trace(Vec3 origin, Vec3 direction, float max_distance, RTCRayHit &query) const;

    const Mesh &mesh_;
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
};

#endif
