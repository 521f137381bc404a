#include "preview/scene/ray_tracer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Embree forgets an error once asked for it: ask once, then describe it.
std::string described(RTCError error)
{
    switch (error) {
    case RTC_ERROR_OUT_OF_MEMORY:
        return "out of memory";
    case RTC_ERROR_UNSUPPORTED_CPU:
        return "this processor is not supported";
    default:
        return "error " + std::to_string(static_cast<int>(error));
    }
}

}  // namespace

void skip_start_triangle(const RTCFilterFunctionNArguments *arguments)
{
    const auto *probe = reinterpret_cast<const ProbeContext *>(arguments->context);
    for (unsigned i = 0; i < arguments->N; ++i) {
        if (RTCHitN_primID(arguments->hit, arguments->N, i) == probe->skip)
            arguments->valid[i] = 0;
    }
}

void skip_start_triangle_and_beyond(const RTCFilterFunctionNArguments *arguments)
{
    const auto *probe = reinterpret_cast<const ProbeContext *>(arguments->context);
    for (unsigned i = 0; i < arguments->N; ++i) {
        const float distance = RTCRayN_tfar(arguments->ray, arguments->N, i) * probe->length;
        if (RTCHitN_primID(arguments->hit, arguments->N, i) == probe->skip || !(distance <= probe->within))
            arguments->valid[i] = 0;
    }
}

namespace {

// A structure over the geometry, which it shares with any other.
RTCScene build_scene(RTCDevice device, RTCGeometry geometry, RTCSceneFlags flags, RTCBuildQuality quality)
{
    RTCScene scene = rtcNewScene(device);
    if (!scene)
        return nullptr;
    rtcSetSceneBuildQuality(scene, quality);
    rtcSetSceneFlags(scene, flags | RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
    rtcAttachGeometry(scene, geometry);
    rtcCommitScene(scene);
    return scene;
}

}  // namespace

RayTracer::RayTracer(const Mesh &mesh) : mesh_(mesh)
{
    device_ = rtcNewDevice(nullptr);
    if (!device_)
        throw RayTracerError("cannot start the ray tracer: " + described(rtcGetDeviceError(nullptr)));

    RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto *vertices = static_cast<float *>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float),
        mesh.positions.size()));
    auto *indices = static_cast<std::uint32_t *>(rtcSetNewGeometryBuffer(
        geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(std::uint32_t),
        mesh.triangles.size()));
    if (vertices && indices) {
        std::memcpy(vertices, mesh.positions.data(), mesh.positions.size() * sizeof(Vec3));
        std::memcpy(indices, mesh.triangles.data(), mesh.triangles.size() * 3 * sizeof(std::uint32_t));
        rtcCommitGeometry(geometry);
        // Camera rays and the probes that need their hit's distance:
        // watertight, so that no ray slips through an edge two triangles
        // share, which a camera ray would show as a speck.
        scene_ = build_scene(device_, geometry, RTC_SCENE_FLAG_ROBUST, RTC_BUILD_QUALITY_HIGH);
        // Yes/no probes, on the same vertices and indices: a plain
        // structure, faster to trace (see docs/PERFORMANCE.md), where a probe
        // that slips through a crack changes one sample of many.
        yes_no_scene_ = build_scene(device_, geometry, RTC_SCENE_FLAG_NONE, RTC_BUILD_QUALITY_MEDIUM);
    }
    rtcReleaseGeometry(geometry);
    const RTCError error = rtcGetDeviceError(device_);
    if (!scene_ || !yes_no_scene_ || error != RTC_ERROR_NONE) {
        release();
        throw RayTracerError("cannot hold the scene: " + described(error));
    }
}

RayTracer::~RayTracer()
{
    release();
}

void RayTracer::release()
{
    if (scene_)
        rtcReleaseScene(scene_);
    if (yes_no_scene_)
        rtcReleaseScene(yes_no_scene_);
    rtcReleaseDevice(device_);
}

void RayTracer::intersect_bundle(Vec3 origin, const Vec3 *directions, std::size_t count, RayHit *hits) const
{
    if (count > max_bundle)
        throw std::logic_error("a bundle of more than " + std::to_string(max_bundle) + " rays");
    RTCRayHit queries[max_bundle];
    for (std::size_t i = 0; i < count; ++i) {
        RTCRayHit &query = queries[i];
        query.ray.org_x = origin.x;
        query.ray.org_y = origin.y;
        query.ray.org_z = origin.z;
        query.ray.tnear = 0.0f;
        query.ray.dir_x = directions[i].x;
        query.ray.dir_y = directions[i].y;
        query.ray.dir_z = directions[i].z;
        query.ray.time = 0.0f;
        query.ray.tfar = std::numeric_limits<float>::infinity();
        query.ray.mask = 0xFFFFFFFFu;
        query.ray.id = static_cast<unsigned>(i);
        query.ray.flags = 0;
        query.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        query.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    }
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
    rtcIntersect1M(scene_, &context, queries, static_cast<unsigned>(count), sizeof(RTCRayHit));
    for (std::size_t i = 0; i < count; ++i) {
        const RTCRayHit &query = queries[i];
        RayHit &hit = hits[i];
        hit.triangle = no_triangle;
        if (query.hit.geomID == RTC_INVALID_GEOMETRY_ID)
            continue;
        hit.triangle = query.hit.primID;
        hit.u = query.hit.u;
        hit.v = query.hit.v;
        hit.geometric_normal = {query.hit.Ng_x, query.hit.Ng_y, query.hit.Ng_z};
    }
}
