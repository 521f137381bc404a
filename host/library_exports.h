// The five functions the library exports to the host, under their plain names.
// Everything else in the library stays hidden: its forwarding functions carry
// the host functions' own names, and exporting them would let a host's lookup
// find them instead of its own, or let the host's functions bypass the binding.
#ifndef UMBREX_LIBRARY_EXPORTS_H
#define UMBREX_LIBRARY_EXPORTS_H

#include "host/host_interface.h"
#include "shader/umbrex_params.h"

#if defined(_WIN32)
#define UMBREX_EXPORT extern "C" __declspec(dllexport)
#else
#define UMBREX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The shader: fills *result for one shading sample and returns miTRUE.
UMBREX_EXPORT miBoolean Umbrex(miColor *result, miState *state, Umbrex_params *params);

// Version of the shader, matching the version in its declaration.
UMBREX_EXPORT int Umbrex_version(void);

// Called with a null params for the shader as a whole, then per instance if asked.
UMBREX_EXPORT miBoolean Umbrex_init(miState *state, Umbrex_params *params, miBoolean *init_request);

UMBREX_EXPORT miBoolean Umbrex_exit(miState *state, Umbrex_params *params);

// Hands the library the module in which it looks up the host functions.
UMBREX_EXPORT void miSetModuleHandle(void *module);

#endif
