// The host functions the shader binds to by name: exported from the
// umbrex-render executable, which hands itself to the library as the host
// module.

#include <cmath>
#include <utility>

#include "preview/shading/sampler.h"
#include "preview/shading/shading_state.h"

#define HOST_FUNCTION extern "C" __attribute__((visibility("default")))

// An attached parameter's value at the shaded point; any other is read in place.
HOST_FUNCTION void *mi_phen_eval(miState *state, void *param)
{
    ShadingState &s = shading_state(state);
    const auto offset = static_cast<const unsigned char *>(param) - s.frame->record;
    const auto word = static_cast<std::size_t>(offset / 4);
    if (offset < 0 || word >= s.frame->attachments.size() || !s.frame->attachments[word] ||
        word >= std::size(s.attached_values))
        return param;
    // The attached shaders see the scene's own coordinates, and directions
    // in the environment's frame.
    const DVec3 point = s.frame->tracer->mesh().origin + DVec3{state->point.x, state->point.y, state->point.z};
    const Vec3 normal = to_y_up({state->normal.x, state->normal.y, state->normal.z}, s.frame->up);
    s.frame->attachments[word]->evaluate(point, normal, s.attached_values[word]);
    return s.attached_values[word];
}

// Sample *counter of *count for this pixel, in one or two dimensions.
HOST_FUNCTION miBoolean mi_sample(double *sample, int *counter, miState *state,
                                  unsigned short dimension, int *count)
{
    if (*counter < 0 || *counter >= *count || dimension < 1 || dimension > 2)
        return miFALSE;
    ShadingState &s = shading_state(state);
    // A frame given up ends every shading call at its next sample, however
    // many it asked for.
    if (s.cancel && s.cancel->load(std::memory_order_relaxed))
        return miFALSE;
    const auto count_asked = static_cast<std::uint32_t>(*count);
    if (count_asked != s.sample_count) {  // the step stays while the count does
        s.sample_count = count_asked;
        s.sample_step = lattice_step(count_asked);
    }
    double point[2];
    lattice_point(static_cast<std::uint32_t>(*counter), s.sample_step, s.sample_shift, point);
    sample[0] = point[0];
    if (dimension == 2)
        sample[1] = point[1];
    ++*counter;
    return miTRUE;
}

// A vector the shader has just written, read one coordinate at a time: a
// load that lies within one of the shader's stores takes its value straight
// from it, while one that spans two stores waits until both reach the cache.
// Volatile keeps the compiler from joining the loads.
static Vec3 just_written(const miVector &v)
{
    const volatile miVector &c = v;
    return {c.x, c.y, c.z};
}

// A probe from origin along direction (any length), no farther than the
// falloff stop when one is set.
HOST_FUNCTION miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
{
    ShadingState &s = shading_state(state);
    Vec3 d = just_written(*direction);
    float length_of_d = length(d);
    float inverse_length = 1.0f / length_of_d;
    if (!(inverse_length > 0.0f) || !std::isfinite(inverse_length))  // zero, tiny or not finite
        return miFALSE;
    if (!(length_of_d >= 0x1p-20f && length_of_d <= 0x1p20f)) {
        // Far from unit length, where Embree's traversal is less sure of a
        // direction given as it comes: traced at unit length instead.
        d = d * inverse_length;
        length_of_d = inverse_length = 1.0f;
    }
    ++s.probe_rays;

    // Start just off the surface on the side the probe leaves by, and pass
    // through the triangle it starts on: neither depends on the scene's size.
    const Vec3 &n = s.geometric_normal;
    const bool above = dot(d, n) >= 0.0f;
    const Vec3 o = {origin->x, origin->y, origin->z};
    Vec3 start;
    if (o.x == s.shaded_point.x && o.y == s.shaded_point.y && o.z == s.shaded_point.z) {
        // A branch, not a select: most probes leave above, and a predicted
        // branch lets the start be read before the side is known.
        if (__builtin_expect(above, 1))
            start = s.start_above;
        else
            start = s.start_below;
    } else
        start = offset_from_surface(o, above ? n : -n);

    // A yes/no probe reports a hit at the start, where the shader reads it
    // as closed, as it would the nearest hit.
    if (s.yes_no_probes) {
        const float within = s.yes_no_within;
        const float reach = ProbeTracer::yes_no_reach(within, inverse_length);
        if (s.probe_log)
            s.probe_log->push_back({start, d, reach, s.triangle, true, length_of_d, within});
        if (!s.probes->hit_within(start, d, reach, length_of_d, within))
            return miFALSE;
        state->child->dist = s.falloff_start;
        return miTRUE;
    }

    // Embree takes the direction as it comes and answers in multiples of its
    // length, so that the normalisation waits for nothing: only a stop needs
    // the length before the traversal starts.
    const float reach = s.probe_reach == infinite_reach ? infinite_reach : s.probe_reach * inverse_length;
    if (s.probe_log)
        s.probe_log->push_back({start, d, reach, s.triangle, false, length_of_d, 0.0f});
    float multiples;
    if (!s.probes->hit_distance(start, d, reach, multiples))
        return miFALSE;
    state->child->dist = multiples * length_of_d;
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_trace_environment(miColor *result, miState *state, miVector *direction)
{
    const FrameScene &frame = *shading_state(state).frame;
    *result = frame.environment->lookup(to_y_up({direction->x, direction->y, direction->z}, frame.up));
    return miTRUE;
}

// Swaps the falloff distances in force with the caller's.
HOST_FUNCTION miBoolean mi_ray_falloff(miState *state, double *start, double *stop)
{
    ShadingState &s = shading_state(state);
    std::swap(s.falloff_start, *start);
    std::swap(s.falloff_stop, *stop);
    s.probe_reach = probe_reach(s.falloff_start, s.falloff_stop);
    const bool yes_no = probes_yes_no(s.falloff_start, s.falloff_stop);
    s.yes_no_probes = yes_no && !s.frame->nearest_hit_probes;
    s.yes_no_within = static_cast<float>(s.falloff_start);
    s.probes->nearest_on_yes_no_structure(yes_no);
    return miTRUE;
}
