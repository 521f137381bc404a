// The shader's arithmetic written out once more, step by step in the stated
// precisions, to give the tests their expected values.
#ifndef UMBREX_TESTS_REFERENCE_SHADING_H
#define UMBREX_TESTS_REFERENCE_SHADING_H

#include <cmath>

#include "host/host_interface.h"

// The point on the unit sphere for the sample (u, v): double precision, each
// coordinate rounded to float at the end.
inline miVector reference_sphere_point(double u, double v)
{
    const double height = 2.0 * u - 1.0;
    const double ring = std::sqrt(1.0 - height * height);
    const double azimuth = v * 2.0 * 3.141592653589793;
    return {float(std::cos(azimuth) * ring), float(std::sin(azimuth) * ring), float(height)};
}

// The sample's direction for a spread in degrees about the axis, in floats.
inline miVector reference_direction(double u, double v, float spread, miVector axis)
{
    const miVector p = reference_sphere_point(u, v);
    const float s = spread / 180.0f;
    const float axis_share = 1.0f - s;
    return {p.x * s + axis.x * axis_share, p.y * s + axis.y * axis_share,
            p.z * s + axis.z * axis_share};
}

// The normal pulled toward a direction, renormalised unless it vanished.
inline miVector reference_axis(miVector n, miVector toward, float bias)
{
    miVector m = {n.x * (1.0f - bias) + toward.x * bias, n.y * (1.0f - bias) + toward.y * bias,
                  n.z * (1.0f - bias) + toward.z * bias};
    const float length = sqrtf(m.x * m.x + m.y * m.y + m.z * m.z);
    if (length == 0.0f)
        return m;
    const float inverse = 1.0f / length;
    return {m.x * inverse, m.y * inverse, m.z * inverse};
}

// Occlusion of a hit between the falloff distances.
inline float reference_k(float t, float start, float stop, float falloff)
{
    const float fraction = (t - start) / (stop - start);
    return powf(1.0f - fraction, 1.0f / falloff);
}

inline miColor reference_blend(miColor bright, miColor dark, float k)
{
    return {bright.r * (1.0f - k) + dark.r * k, bright.g * (1.0f - k) + dark.g * k,
            bright.b * (1.0f - k) + dark.b * k, bright.a * (1.0f - k) + dark.a * k};
}

#endif
