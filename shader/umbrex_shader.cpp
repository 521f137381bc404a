// The shader entry: reads the parameters in a fixed order, takes the early
// exits, brackets the sampling loop with the host's falloff distances and
// hands the samples to the estimator.

#include "host/library_exports.h"
#include "shader/occlusion_estimator.h"
#include "shader/parameter_reading.h"
#include "shader/sampling_directions.h"

namespace {

// Ray types for which ray_type_bypass 1 returns bright without sampling.
bool is_bypassed_ray_type(int type)
{
    constexpr unsigned long bypassed = (0xFFul << 8) | (1ul << 18) | (1ul << 19) | (1ul << 20) |
                                       (1ul << 23) | (1ul << 24) | (1ul << 27);
    return type >= 0 && type < 32 && ((bypassed >> type) & 1ul) != 0;
}

}  // namespace

miBoolean Umbrex(miColor *result, miState *state, Umbrex_params *params)
{
    const miColor bright = read_parameter(state, params->bright);
    const int samples = read_parameter(state, params->samples);
    if (samples == 0) {
        *result = bright;
        return miTRUE;
    }
    if (read_parameter(state, params->ray_type_bypass) == 1 && is_bypassed_ray_type(state->type)) {
        *result = bright;
        return miTRUE;
    }

    const miColor dark = read_parameter(state, params->dark);
    const bool trace = read_parameter(state, params->trace) != 0;
    const bool environment = read_parameter(state, params->environment) != 0;
    const bool bent_normals = read_parameter(state, params->bent_normals) != 0;
    const float falloff_start = read_parameter(state, params->falloff_start);
    const float falloff_stop = read_parameter(state, params->falloff_stop);
    const float spread = read_parameter(state, params->spread);
    const float falloff = read_parameter(state, params->falloff);
    const float bias = read_parameter(state, params->bias);

    // The host writes its previous distances back into these two; the second
    // call with the same variables restores them.
    double host_falloff_start = falloff_start;
    double host_falloff_stop = falloff_stop;
    mi_ray_falloff(state, &host_falloff_start, &host_falloff_stop);

    miVector axis = state->normal;
    if (bias > 0.0f)
        axis = biased_axis(axis, read_parameter(state, params->bias_direction), bias);

    const OutputMode mode = bent_normals  ? OutputMode::bent_normal
                            : environment ? OutputMode::environment
                                          : OutputMode::colour;
    const EstimatorSettings settings = {bright,       dark,    trace, falloff_start,
                                        falloff_stop, falloff, axis,  spread_factors(spread, axis)};
    estimate_occlusion(result, state, mode, settings, samples);

    mi_ray_falloff(state, &host_falloff_start, &host_falloff_stop);
    return miTRUE;
}
