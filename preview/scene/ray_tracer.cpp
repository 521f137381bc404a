#include "preview/scene/ray_tracer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

// The intersect context of a probe, which names the triangle it starts on.
struct ProbeContext {
    RTCIntersectContext context;  // first, so that Embree's pointer leads here
    std::uint32_t skip;
};

void skip_start_triangle(const RTCFilterFunctionNArguments *arguments)
{
    const auto *probe = reinterpret_cast<const ProbeContext *>(arguments->context);
    for (unsigned i = 0; i < arguments->N; ++i) {
        if (RTCHitN_primID(arguments->hit, arguments->N, i) == probe->skip)
            arguments->valid[i] = 0;
    }
}

// One coordinate moved by `steps` units in its last place, away from zero
// when steps is positive; near zero, where the last place is tiny, by a fixed
// small distance instead.
float nudge(float coordinate, float direction)
{
    constexpr float near_zero = 1.0f / 32.0f;
    constexpr float fixed_step = 1.0f / 65536.0f;
    constexpr float steps_per_unit = 256.0f;
    if (std::abs(coordinate) < near_zero)
        return coordinate + fixed_step * direction;
    std::int32_t bits;
    std::memcpy(&bits, &coordinate, sizeof bits);
    const auto steps = static_cast<std::int32_t>(steps_per_unit * direction);
    bits += coordinate < 0.0f ? -steps : steps;
    float moved;
    std::memcpy(&moved, &bits, sizeof moved);
    return moved;
}

std::string device_error(RTCDevice device)
{
    switch (rtcGetDeviceError(device)) {
    case RTC_ERROR_OUT_OF_MEMORY:
        return "out of memory";
    case RTC_ERROR_UNSUPPORTED_CPU:
        return "this processor is not supported";
    default:
        return "error " + std::to_string(static_cast<int>(rtcGetDeviceError(device)));
    }
}

}  // namespace

Vec3 offset_from_surface(Vec3 point, Vec3 n)
{
    return {nudge(point.x, n.x), nudge(point.y, n.y), nudge(point.z, n.z)};
}

RayTracer::RayTracer(const Mesh &mesh) : mesh_(mesh)
{
    device_ = rtcNewDevice(nullptr);
    if (!device_)
        throw RayTracerError("cannot start the ray tracer: " + device_error(nullptr));

    scene_ = rtcNewScene(device_);
    rtcSetSceneBuildQuality(scene_, RTC_BUILD_QUALITY_HIGH);
    rtcSetSceneFlags(scene_, RTC_SCENE_FLAG_ROBUST | RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
    RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto *vertices = static_cast<float *>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float),
        mesh.positions.size()));
    auto *indices = static_cast<std::uint32_t *>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(std::uint32_t),
        mesh.triangles.size()));
    if (!vertices || !indices) {
        rtcReleaseGeometry(geometry);
        const std::string why = device_error(device_);
        rtcReleaseScene(scene_);
        rtcReleaseDevice(device_);
        throw RayTracerError("cannot hold the scene: " + why);
    }
    std::memcpy(vertices, mesh.positions.data(), mesh.positions.size() * sizeof(Vec3));
    std::memcpy(indices, mesh.triangles.data(), mesh.triangles.size() * 3 * sizeof(std::uint32_t));
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(scene_, geometry);
    rtcReleaseGeometry(geometry);
    rtcCommitScene(scene_);
}

RayTracer::~RayTracer()
{
    rtcReleaseScene(scene_);
    rtcReleaseDevice(device_);
}

bool RayTracer::trace(Vec3 origin, Vec3 direction, float max_distance, std::uint32_t skip,
                      RTCRayHit &query) const
{
    query.ray.org_x = origin.x;
    query.ray.org_y = origin.y;
    query.ray.org_z = origin.z;
    query.ray.dir_x = direction.x;
    query.ray.dir_y = direction.y;
    query.ray.dir_z = direction.z;
    query.ray.tnear = 0.0f;
    query.ray.tfar = max_distance;
    query.ray.time = 0.0f;
    query.ray.mask = 0xFFFFFFFFu;
    query.ray.id = 0;
    query.ray.flags = 0;
    query.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    query.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    ProbeContext probe;
    rtcInitIntersectContext(&probe.context);
    if (skip != no_triangle) {
        probe.context.filter = skip_start_triangle;
        probe.skip = skip;
    }
    rtcIntersect1(scene_, &probe.context, &query);
    return query.hit.geomID != RTC_INVALID_GEOMETRY_ID;
}

bool RayTracer::intersect(Vec3 origin, Vec3 direction, RayHit &hit) const
{
    RTCRayHit query;
    if (!trace(origin, direction, std::numeric_limits<float>::infinity(), no_triangle, query))
        return false;
    hit.triangle = query.hit.primID;
    hit.u = query.hit.u;
    hit.v = query.hit.v;
    hit.geometric_normal = {query.hit.Ng_x, query.hit.Ng_y, query.hit.Ng_z};
    return true;
}

bool RayTracer::hit_distance(Vec3 origin, Vec3 direction, float max_distance, std::uint32_t skip,
                             float &distance) const
{
    RTCRayHit query;
    if (!trace(origin, direction, max_distance, skip, query))
        return false;
    distance = query.ray.tfar;
    return true;
}
