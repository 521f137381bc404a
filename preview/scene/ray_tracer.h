// Rays against the scene, traced with Embree: camera rays and the probes
// that need their hit's distance on a watertight structure, so that no ray
// slips through the edge two triangles share; yes/no probes on a plain one
// over the same vertices.
#ifndef UMBREX_PREVIEW_RAY_TRACER_H
#define UMBREX_PREVIEW_RAY_TRACER_H

#include <embree3/rtcore.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "preview/scene/mesh.h"

struct RayHit {
    std::uint32_t triangle;
    float u, v;             // barycentric weights of the second and third corner
    Vec3 geometric_normal;  // not of unit length, on the side the triangle's winding gives
};

// No triangle: for rays that may hit any.
constexpr std::uint32_t no_triangle = 0xFFFFFFFFu;

namespace ray_tracer_detail {

// One coordinate moved by `steps` units in its last place, away from zero
// when steps is positive; near zero, where the last place is tiny, by a fixed
// small distance instead.
inline float nudge(float coordinate, float direction)
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

}  // namespace ray_tracer_detail

// A point moved off a surface along n (the side to leave by, unit length) by
// a few hundred units in the last place of its own coordinates: far enough
// for the rounding of a point computed on the surface, whatever the scene's
// size or place (the integer-offset method of robust ray tracers). Inline:
// every probe starts with it.
inline Vec3 offset_from_surface(Vec3 point, Vec3 n)
{
    using ray_tracer_detail::nudge;
    return {nudge(point.x, n.x), nudge(point.y, n.y), nudge(point.z, n.z)};
}

struct RayTracerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class RayTracer {
public:
    // Builds the acceleration structures over the mesh, which must outlive
    // this. Throws RayTracerError when Embree cannot.
    explicit RayTracer(const Mesh &mesh);
    ~RayTracer();
    RayTracer(const RayTracer &) = delete;
    RayTracer &operator=(const RayTracer &) = delete;

    // Rays traced together, from one origin along neighbouring unit
    // directions, up to max_bundle of them: each one's nearest hit, or
    // no_triangle. Embree takes them through the structure as packets.
    static constexpr std::size_t max_bundle = 16;
    void intersect_bundle(Vec3 origin, const Vec3 *directions, std::size_t count, RayHit *hits) const;

    const Mesh &mesh() const { return mesh_; }
    RTCScene scene() const { return scene_; }                // watertight
    RTCScene yes_no_scene() const { return yes_no_scene_; }  // plain, for yes/no probes

private:
    void release();

    const Mesh &mesh_;
    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
    RTCScene yes_no_scene_ = nullptr;
};

// The intersect context of a probe, which names the triangle it starts on,
// and for a yes/no probe how near a hit must be to count.
struct ProbeContext {
    RTCIntersectContext context;  // first, so that Embree's pointer leads here
    std::uint32_t skip;
    float length;  // the direction's: a hit's distance is Embree's multiples times this
    float within;  // a yes/no probe counts hits at this distance or nearer
};

// Embree's filter for probes: drops a hit on the triangle the probe starts on.
void skip_start_triangle(const RTCFilterFunctionNArguments *arguments);

// Embree's filter for yes/no probes: drops a hit on the start triangle, and
// one whose distance, worked out as the nearest-hit probe reports it, is
// beyond `within`.
void skip_start_triangle_and_beyond(const RTCFilterFunctionNArguments *arguments);

// One thread's probes, passing through the triangle they start on: each
// either the distance to the nearest hit along a direction from an origin, up
// to a reach, both in multiples of the direction's length; or, where the
// answer is yes or no, whether any hit lies within a distance (Embree's
// occlusion query on the yes/no structure, which stops at the first hit it
// accepts). The intersect contexts and the fields of the queries that Embree
// only reads are set up once; a probe writes its ray (with a zero start and
// time), its reach and the "no hit yet" mark, and nothing else.
class ProbeTracer {
public:
    explicit ProbeTracer(const RayTracer &tracer)
        : watertight_(tracer.scene()), yes_no_scene_(tracer.yes_no_scene()), nearest_scene_(watertight_)
    {
        set_up(nearest_, skip_start_triangle);
        set_up(yes_no_, skip_start_triangle_and_beyond);
        std::memset(&query_, 0, sizeof query_);
        query_.ray.mask = 0xFFFFFFFFu;
        query_.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        std::memset(&occlusion_, 0, sizeof occlusion_);
        occlusion_.mask = 0xFFFFFFFFu;
    }
    // Nearest-hit probes go on the watertight structure; a yes/no probe
    // asked as a nearest-hit query goes on the yes/no one, where its answer
    // is the same.
    void nearest_on_yes_no_structure(bool yes_no) { nearest_scene_ = yes_no ? yes_no_scene_ : watertight_; }
    // The triangle the next probes start on.
    void start_on(std::uint32_t triangle) { nearest_.skip = yes_no_.skip = triangle; }

    bool hit_distance(Vec3 origin, Vec3 direction, float reach, float &distance)
    {
        store_with_zero(&query_.ray.org_x, origin);
        store_with_zero(&query_.ray.dir_x, direction);
        query_.ray.tfar = reach;
        query_.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(nearest_scene_, &nearest_.context, &query_);
        if (query_.hit.geomID == RTC_INVALID_GEOMETRY_ID)
            return false;
        distance = query_.ray.tfar;
        return true;
    }

    // Whether a hit lies at `within` or nearer, its distance worked out as
    // hit_distance's times `length` (the direction's) would be: so the answer
    // is yes exactly when the nearest hit's distance, so worked out, is at
    // most `within`. Embree looks up to `reach` (yes_no_reach), a little
    // beyond, and the filter decides the hits there.
    bool hit_within(Vec3 origin, Vec3 direction, float reach, float length, float within)
    {
        if (!(reach >= 0.0f))  // no distance is negative
            return false;
        store_with_zero(&occlusion_.org_x, origin);
        store_with_zero(&occlusion_.dir_x, direction);
        occlusion_.tfar = reach;
        yes_no_.length = length;
        yes_no_.within = within;
        rtcOccluded1(yes_no_scene_, &yes_no_.context, &occlusion_);
        return occlusion_.tfar < 0.0f;  // Embree marks a hit with a negative reach
    }

    // How far a yes/no probe looks, in multiples of the direction's length:
    // the relative margin covers the rounding of this product and of
    // Embree's own comparison; the absolute one, hits at multiples so small
    // that their distance rounds to zero.
    static float yes_no_reach(float within, float inverse_length)
    {
        return within * inverse_length * (1.0f + 0x1p-10f) + 0x1p-126f;
    }

private:
    static void set_up(ProbeContext &probe, RTCFilterFunctionN filter)
    {
        rtcInitIntersectContext(&probe.context);
        probe.context.filter = filter;
        probe.skip = no_triangle;
        probe.length = 1.0f;
        probe.within = 0.0f;
    }

    // Three coordinates and a zero (the ray's start or time) in one store:
    // Embree reads each group of four in one load, which waits far longer for
    // three separate stores than for one.
    static void store_with_zero(float *four, Vec3 v)
    {
#if defined(__SSE__)
        _mm_store_ps(four, _mm_setr_ps(v.x, v.y, v.z, 0.0f));
#else
        const float values[4] = {v.x, v.y, v.z, 0.0f};
        std::memcpy(four, values, sizeof values);
#endif
    }

    const RTCScene watertight_, yes_no_scene_;
    RTCScene nearest_scene_;
    ProbeContext nearest_, yes_no_;
    RTCRayHit query_;
    RTCRay occlusion_;
};

#endif
