// The shader library loaded as the renderer loads it: by file, the shader
// and its companions looked up by the name its declaration gives, its version
// checked against the declared one.
#ifndef UMBREX_PREVIEW_SHADER_LOADER_H
#define UMBREX_PREVIEW_SHADER_LOADER_H

#include <stdexcept>
#include <string>

#include "host/host_interface.h"
#include "preview/shading/shader_declaration.h"

struct ShaderLoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The shader's parameter record; this host lays it out from the declaration.
struct Umbrex_params;

struct LoadedShader {
    miBoolean (*shade)(miColor *, miState *, Umbrex_params *);
    int (*version)();
    miBoolean (*init)(miState *, Umbrex_params *, miBoolean *);
    miBoolean (*exit)(miState *, Umbrex_params *);
    void (*set_module_handle)(void *);
};

// Loads the library, checks that it holds the declared shader at the declared
// version, and hands it this program as the host module.
LoadedShader load_shader(const std::string &path, const ShaderDeclaration &declaration);

#endif
