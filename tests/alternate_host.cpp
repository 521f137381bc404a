// A second host module. Its host functions only count their calls, so a test
// can tell which module the library's binding reaches.

#include "host/host_interface.h"
#include "tests/shader_library.h"

TEST_HOST_EXPORT int alternate_host_calls;
int alternate_host_calls = 0;

TEST_HOST_EXPORT miBoolean mi_ray_falloff(miState *, double *, double *)
{
    ++alternate_host_calls;
    return miTRUE;
}

TEST_HOST_EXPORT miBoolean mi_sample(double *, int *, miState *, unsigned short, int *)
{
    ++alternate_host_calls;
    return miFALSE;
}
