// The shader library loaded as the renderer loads it: by file, with its five
// exports looked up by name. Also the few module operations a test host needs,
// the same on Linux and Windows.
#ifndef UMBREX_TESTS_SHADER_LIBRARY_H
#define UMBREX_TESTS_SHADER_LIBRARY_H

#include <string>

#include "host/host_interface.h"
#include "shader/umbrex_params.h"

// How a test host exports its own host functions for the library to find.
#if defined(_WIN32)
#define TEST_HOST_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_HOST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct ShaderLibrary {
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

// A module loaded by path or system name; ends the program if there is none.
void *load_module(const char *path);

// An exported symbol of a module, or null.
void *module_symbol(void *module, const char *name);

// A module handle as the binding prints it: its low 32 bits in hex.
std::string handle_in_hex(void *module);

// The binding's message for a failed lookup of `name` in the module printed
// as `handle`, as a regular expression; `error` matches the error code.
std::string failed_lookup_pattern(const char *name, const std::string &handle,
                                  const std::string &error = "-?[0-9]+");

#endif
