// A second host module. Its host functions only log their calls, one letter
// each as the scripted host logs them, so a test can tell which module the
// library's binding reaches: a sampler of one sample, probes that miss.

#include "host/host_interface.h"
#include "tests/shader_library.h"

TEST_HOST_EXPORT char alternate_host_events[256];
char alternate_host_events[256] = {};

namespace {
void log_event(char event)
{
    static unsigned next = 0;
    if (next + 1 < sizeof alternate_host_events)
        alternate_host_events[next++] = event;
}
}  // namespace

TEST_HOST_EXPORT void *mi_phen_eval(miState *, void *param)
{
    log_event('A');
    return param;
}

TEST_HOST_EXPORT miBoolean mi_ray_falloff(miState *, double *, double *)
{
    log_event('F');
    return miTRUE;
}

TEST_HOST_EXPORT miBoolean mi_sample(double *sample, int *counter, miState *, unsigned short, int *)
{
    log_event('S');
    if (*counter > 0)
        return miFALSE;
    sample[0] = sample[1] = 0.5;
    ++*counter;
    return miTRUE;
}

TEST_HOST_EXPORT miBoolean mi_trace_probe(miState *, miVector *, miVector *)
{
    log_event('P');
    return miFALSE;
}

TEST_HOST_EXPORT miBoolean mi_trace_environment(miColor *, miState *, miVector *)
{
    log_event('E');
    return miTRUE;
}
