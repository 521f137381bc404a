// The shader's parameter record, laid out as the host fills it from the
// shader's declaration: colours 16 bytes, the vector 12, every other field 4.
#ifndef UMBREX_PARAMS_H
#define UMBREX_PARAMS_H

#include <cstddef>

#include "host/host_interface.h"

struct Umbrex_params {
    miColor bright;           // colour of an open sample; also the early-exit result
    miColor dark;             // colour of a fully occluded sample
    miBoolean bent_normals;   // output the mean open direction instead of a colour
    miBoolean trace;          // trace a probe per sample; otherwise every sample is open
    miBoolean environment;    // weight each sample by the environment along its direction
    int ray_type_bypass;      // exactly 1: return bright at once for the bypassed ray types
    float spread;             // spread of the directions in degrees; 180 is the whole sphere
    int samples;              // samples asked of the host's sampler; 0 returns bright at once
    float falloff_start;      // hit distance at or below which a sample is fully occluded
    float falloff_stop;       // hit distance at or beyond which a sample is open
    float falloff;            // shape of the falloff curve; its reciprocal is the exponent
    miVector bias_direction;  // direction toward which the sampling axis is pulled
    float bias;               // amount of that pull; 0 or less keeps the axis on the normal
};

#define UMBREX_FIELD_AT(field, offset, width)                                  \
    static_assert(offsetof(Umbrex_params, field) == (offset) &&                \
                      sizeof(Umbrex_params::field) == (width),                 \
                  "Umbrex_params::" #field " must sit where the host puts it")
UMBREX_FIELD_AT(bright, 0, 16);
UMBREX_FIELD_AT(dark, 16, 16);
UMBREX_FIELD_AT(bent_normals, 32, 4);
UMBREX_FIELD_AT(trace, 36, 4);
UMBREX_FIELD_AT(environment, 40, 4);
UMBREX_FIELD_AT(ray_type_bypass, 44, 4);
UMBREX_FIELD_AT(spread, 48, 4);
UMBREX_FIELD_AT(samples, 52, 4);
UMBREX_FIELD_AT(falloff_start, 56, 4);
UMBREX_FIELD_AT(falloff_stop, 60, 4);
UMBREX_FIELD_AT(falloff, 64, 4);
UMBREX_FIELD_AT(bias_direction, 68, 12);
UMBREX_FIELD_AT(bias, 80, 4);
#undef UMBREX_FIELD_AT
static_assert(sizeof(Umbrex_params) == 84, "the host's record is 84 bytes with no gaps");

#endif
