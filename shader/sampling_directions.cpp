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
