// For the sampling loop, which calls the same host functions for every
// sample: the addresses that calls of their forwarding functions would reach
// right now, fetched together once per shading call. Once a function is bound
// that is the host's own function, called directly; until then it is the
// forwarding function, which binds it on its use and reports a failed lookup
// as every use does.
#ifndef UMBREX_BOUND_FUNCTIONS_H
#define UMBREX_BOUND_FUNCTIONS_H

#include "host/host_interface.h"

struct SamplingFunctions {
    decltype(&mi_sample) sample;
    decltype(&mi_trace_probe) probe;
    decltype(&mi_trace_environment) environment;
};

SamplingFunctions current_sampling_functions();

#endif
