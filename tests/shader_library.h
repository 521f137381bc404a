// The shader library loaded as the renderer loads it: by file, with its five
// exports looked up by name.
#ifndef UMBREX_TESTS_SHADER_LIBRARY_H
#define UMBREX_TESTS_SHADER_LIBRARY_H

#include "host/host_interface.h"
#include "shader/umbrex_params.h"

struct ShaderLibrary {
    void *module;
    miBoolean (*shade)(miColor *, miState *, Umbrex_params *);
    int (*version)();
    miBoolean (*init)(miState *, Umbrex_params *, miBoolean *);
    miBoolean (*exit)(miState *, Umbrex_params *);
    void (*set_module_handle)(void *);
};

// The library as built, loaded once for the process.
const ShaderLibrary &umbrex_library();

// A private copy of the library, loaded afresh: its handle has never been set
// and its function table is empty.
ShaderLibrary fresh_umbrex_library();

// This executable, as a host hands itself to the library.
void *own_module();

// A shared module loaded by path; fails the test on error.
void *load_module(const char *path);

#endif
