// The estimator: classifies each sample direction as open, closed or partly
// occluded, accumulates the mode's sums over the host's samples, and turns
// them into the shader's result.
#ifndef UMBREX_OCCLUSION_ESTIMATOR_H
#define UMBREX_OCCLUSION_ESTIMATOR_H

#include "host/host_interface.h"
#include "shader/sampling_directions.h"

enum class OutputMode {
    colour,       // blend of bright and dark
    environment,  // the same blend times the environment along each direction
    bent_normal,  // mean open direction, open fraction in alpha
};

struct EstimatorSettings {
    miColor bright;
    miColor dark;
    bool trace;           // trace a probe per sample; otherwise every sample is open
    float falloff_start;  // hits at or below: closed
    float falloff_stop;   // hits at or beyond: open
    float falloff;        // shape of the curve between them
    miVector axis;        // the sampling axis, answer of a bent normal with no open direction
    SpreadFactors spread;
};

// Runs the sampling loop over the host's sampler, asking for `samples`
// samples, and writes the result for the mode.
void estimate_occlusion(miColor *result, miState *state, OutputMode mode,
                        const EstimatorSettings &settings, int samples);

#endif
