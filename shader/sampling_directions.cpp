#include "shader/sampling_directions.h"

#include <cmath>

// Which steps run in single and which in double precision is part of the
// result: directions must come out bit for bit the same on every platform
// that rounds its math functions alike.

miVector biased_axis(const miVector &normal, const miVector &bias_direction, float bias)
{
    const float keep = 1.0f - bias;
    miVector m = {normal.x * keep + bias_direction.x * bias,
                  normal.y * keep + bias_direction.y * bias,
                  normal.z * keep + bias_direction.z * bias};
    const float length = std::sqrt(m.x * m.x + m.y * m.y + m.z * m.z);
    if (length != 0.0f) {
        const float reciprocal = 1.0f / length;
        m.x *= reciprocal;
        m.y *= reciprocal;
        m.z *= reciprocal;
    }
    return m;
}

SpreadFactors spread_factors(float spread_degrees, const miVector &axis)
{
    const float s = spread_degrees / 180.0f;
    const float keep = 1.0f - s;
    return {s, {axis.x * keep, axis.y * keep, axis.z * keep}};
}

miVector sample_direction(const double sample[2], const SpreadFactors &factors)
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
