// The directions the shader looks along: the sampling axis formed once per
// call, the spread factors, and one direction per two-dimensional sample.
#ifndef UMBREX_SAMPLING_DIRECTIONS_H
#define UMBREX_SAMPLING_DIRECTIONS_H

#include <cmath>

#include "host/host_interface.h"

// The shading normal pulled toward bias_direction by `bias` (taken as greater
// than 0), then brought to unit length unless the blend is the zero vector.
miVector biased_axis(const miVector &normal, const miVector &bias_direction, float bias);

struct SpreadFactors {
    float spread;          // s: spread in degrees over 180
    miVector scaled_axis;  // a: the axis times (1 - s)
};

inline SpreadFactors spread_factors(float spread_degrees, const miVector &axis)
{
    const float s = spread_degrees / 180.0f;
    const float keep = 1.0f - s;
    return {s, {axis.x * keep, axis.y * keep, axis.z * keep}};
}

// The direction of the sample (u, v): a point on the unit sphere, scaled by s
// and offset by the scaled axis. Not normalised. Inline: it runs once per
// sample.
inline miVector sample_direction(const double sample[2], const SpreadFactors &factors)
{
    constexpr double pi = 3.141592653589793;
    const double u = sample[0];
    const double v = sample[1];

    // A point on the unit sphere, uniform when (u, v) are: height from u,
    // azimuth from v.
    const double z = 2.0 * u - 1.0;
    const double radius = std::sqrt(1.0 - z * z);
    const double phi = (v * 2.0) * pi;
    const float x = static_cast<float>(std::cos(phi) * radius);
    const float y = static_cast<float>(std::sin(phi) * radius);
    const float zf = static_cast<float>(z);

    const float s = factors.spread;
    const miVector &a = factors.scaled_axis;
    return {x * s + a.x, y * s + a.y, zf * s + a.z};
}

#endif
