#include "preview/bake/bake_surface.h"

namespace {

// A point of a triangle from its corners' weights, in double precision.
struct MeshPoint {
    DVec3 point;       // relative to the mesh's origin
    Vec3 interpolated;  // the corners' normals, weighted
    Vec3 geometric;     // the triangle's, as its winding gives it
};

MeshPoint mesh_point(const Mesh &mesh, std::uint32_t triangle, const std::array<double, 3> &w)
{
    const auto &corners = mesh.triangles[triangle];
    const DVec3 a = to_double(mesh.positions[corners[0]]), b = to_double(mesh.positions[corners[1]]),
                c = to_double(mesh.positions[corners[2]]);
    const auto &n = mesh.corner_normals[triangle];
    return {a + (b - a) * w[1] + (c - a) * w[2],
            n[0] * static_cast<float>(w[0]) + n[1] * static_cast<float>(w[1]) + n[2] * static_cast<float>(w[2]),
            to_float(normalized(cross(b - a, c - a)))};
}

// Seen along the reverse of its normal: the interpolated one where the
// corners give one, the triangle's own otherwise.
SurfacePoint seen_head_on(const MeshPoint &m, std::uint32_t triangle)
{
    Vec3 facing = normalized(m.interpolated);
    if (!is_finite(facing) || length(facing) == 0.0f)
        facing = m.geometric;
    return {triangle, to_float(m.point), facing_normals(m.geometric, m.interpolated, -facing), 0.0f};
}

}  // namespace

BakeSurface::BakeSurface(const Mesh &baked) : baked_(baked) {}

BakeSurface::BakeSurface(const Mesh &baked, const RayTracer &high, float cage)
    : baked_(baked), high_(&high), cage_(cage), shift_(baked.origin - high.mesh().origin)
{
}

bool BakeSurface::find(std::uint32_t triangle, const std::array<double, 3> &weights, SurfacePoint &at) const
{
    const MeshPoint low = mesh_point(baked_, triangle, weights);
    if (!high_) {
        at = seen_head_on(low, triangle);
        return true;
    }
    const SurfacePoint from = seen_head_on(low, triangle);
    const Vec3 origin = to_float(low.point + shift_);
    const Vec3 normal = from.normals.shading;
    RTCRayHit nearest{};
    nearest.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    float reach = cage_;
    for (const float way : {1.0f, -1.0f}) {
        RTCRayHit query{};
        query.ray.org_x = origin.x;
        query.ray.org_y = origin.y;
        query.ray.org_z = origin.z;
        query.ray.dir_x = normal.x * way;
        query.ray.dir_y = normal.y * way;
        query.ray.dir_z = normal.z * way;
        query.ray.tfar = reach;
        query.ray.mask = 0xFFFFFFFFu;
        query.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        query.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        rtcIntersect1(high_->scene(), &context, &query);
        if (query.hit.geomID != RTC_INVALID_GEOMETRY_ID) {
            nearest = query;
            reach = query.ray.tfar;  // the other way must come nearer
        }
    }
    if (nearest.hit.geomID == RTC_INVALID_GEOMETRY_ID)
        return false;
    const double u = nearest.hit.u, v = nearest.hit.v;
    const std::uint32_t hit = nearest.hit.primID;
    at = seen_head_on(mesh_point(high_->mesh(), hit, {1.0 - u - v, u, v}), hit);
    return true;
}
