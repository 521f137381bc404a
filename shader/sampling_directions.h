// The directions the shader looks along: the sampling axis formed once per
// call, the spread factors, and one direction per two-dimensional sample.
#ifndef UMBREX_SAMPLING_DIRECTIONS_H
#define UMBREX_SAMPLING_DIRECTIONS_H

#include "host/host_interface.h"

// The shading normal pulled toward bias_direction by `bias` (taken as greater
// than 0), then brought to unit length unless the blend is the zero vector.
miVector biased_axis(const miVector &normal, const miVector &bias_direction, float bias);

struct SpreadFactors {
    float spread;          // s: spread in degrees over 180
    miVector scaled_axis;  // a: the axis times (1 - s)
};

SpreadFactors spread_factors(float spread_degrees, const miVector &axis);

// The direction of the sample (u, v): a point on the unit sphere, scaled by s
// and offset by the scaled axis. Not normalised.
miVector sample_direction(const double sample[2], const SpreadFactors &factors);

#endif
