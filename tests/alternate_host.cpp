// A second host module. Its host functions only count their calls, so a test
// can tell which module the library's binding reaches.

#include "host/host_interface.h"

extern "C" {

__attribute__((visibility("default"))) int alternate_host_calls = 0;

__attribute__((visibility("default"))) miBoolean mi_ray_falloff(miState *, double *, double *)
{
    ++alternate_host_calls;
    return miTRUE;
}

__attribute__((visibility("default"))) miBoolean mi_sample(double *, int *, miState *,
                                                           unsigned short, int *)
{
    ++alternate_host_calls;
    return miFALSE;
}
}
