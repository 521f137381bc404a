// The shader library loaded as the renderer loads it: by file, its five
// exports looked up by name, its version checked.
#ifndef UMBREX_PREVIEW_SHADER_LOADER_H
#define UMBREX_PREVIEW_SHADER_LOADER_H

#include <stdexcept>
#include <string>

#include "host/host_interface.h"

struct ShaderLoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct LoadedShader {
    miBoolean (*shade)(miColor *, miState *, void *);
    int (*version)();
    miBoolean (*init)(miState *, void *, miBoolean *);
    miBoolean (*exit)(miState *, void *);
    void (*set_module_handle)(void *);
};

// Loads the library and hands it this program as the host module.
LoadedShader load_shader(const std::string &path);

#endif
