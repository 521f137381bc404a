// What the preview host keeps for one shading call. The shader sees only the
// miState at its start; the host functions find the rest behind it.
#ifndef UMBREX_PREVIEW_SHADING_STATE_H
#define UMBREX_PREVIEW_SHADING_STATE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "host/host_interface.h"
#include "preview/scene/camera.h"
#include "preview/scene/ray_tracer.h"
#include "preview/shading/attachments.h"
#include "preview/shading/environment.h"
#include "preview/shading/sampler.h"

// A probe as traced: for measuring the tracer alone on the same rays.
struct ProbeRay {
    Vec3 origin, direction;
    float reach;  // in multiples of the direction's length
    std::uint32_t skip;  // the triangle it starts on
    bool yes_no;         // an occlusion query for a hit at `within` or nearer,
    float length;        // its distance Embree's multiples times this
    float within;
};

// What every shading call of a frame shares, read-only.
struct FrameScene {
    const RayTracer *tracer;
    const Environment *environment;
    const unsigned char *record;                  // the shader's parameter record
    std::vector<const Attachment *> attachments;  // by 4-byte word of the record; null if none
    UpAxis up;                                    // the scene's up, the environment's +Y
    // Every probe a nearest-hit query, yes/no ones too, as a host that does
    // not tell them apart: for showing that both give the same pictures.
    bool nearest_hit_probes = false;
};

struct ShadingState {
    miState state;  // first, so that the shader's state pointer leads here
    miState child;
    const FrameScene *frame;
    std::uint32_t triangle;  // the one shaded, which its probes pass through
    Vec3 geometric_normal;   // unit, on the side the camera sees
    // The shaded point and where probes from it start, moved off the surface
    // to the side of the normal and to the other: worked out once per point.
    Vec3 shaded_point, start_above, start_below;
    double falloff_start;   // the falloff distances in force for probes
    double falloff_stop;
    float probe_reach;      // how far probes go under them: the stop, or without one infinity
    bool yes_no_probes;     // under them a probe only asks whether a hit lies within the start
    float yes_no_within;    // the start, as the shader compares distances with it
    ProbeTracer *probes;    // this thread's
    LatticeShift sample_shift;  // decorrelates this pixel's samples
    std::uint32_t sample_count;  // the count the step is for
    std::uint32_t sample_step;
    std::uint64_t probe_rays;   // traced by this thread so far
    const std::atomic<bool> *cancel;  // when set and true, the frame is abandoned: no more samples
    std::vector<ProbeRay> *probe_log;  // when set, every probe is appended
    alignas(16) float attached_values[32][4];
};
static_assert(std::is_standard_layout_v<ShadingState> && offsetof(ShadingState, state) == 0,
              "a shader's state pointer must lead to its ShadingState");

inline ShadingState &shading_state(miState *state)
{
    return *reinterpret_cast<ShadingState *>(state);
}

// How far probes reach under the falloff distances: no farther than the stop
// when one is set.
constexpr float infinite_reach = std::numeric_limits<float>::infinity();

inline float probe_reach(double falloff_start, double falloff_stop)
{
    if (falloff_stop > 0.0 && falloff_stop > falloff_start)
        return static_cast<float>(falloff_stop);
    return infinite_reach;
}

// With a stop set at or below the start, a hit at or within the start is
// fully closed and any other open: a probe's answer is yes or no, and the
// nearest hit's distance matters only as far as which side of the start it
// lies.
inline bool probes_yes_no(double falloff_start, double falloff_stop)
{
    return falloff_stop > 0.0 && falloff_start >= falloff_stop;
}

#endif
