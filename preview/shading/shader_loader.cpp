#include "preview/shading/shader_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

template <typename Function>
void look_up(void *module, const std::string &path, const char *name, Function *&function)
{
    function = reinterpret_cast<Function *>(dlsym(module, name));
    if (!function)
        throw ShaderLoadError(path + ": not an Umbrex shader library (it does not export " + name + ")");
}

}  // namespace

LoadedShader load_shader(const std::string &path)
{
    // A path, never a name for the loader to search for.
    const std::string file = std::filesystem::absolute(path).string();
    void *module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw ShaderLoadError("cannot load the shader library: " + std::string(dlerror()));
    LoadedShader shader{};
    look_up(module, path, "Umbrex", shader.shade);
    look_up(module, path, "Umbrex_version", shader.version);
    look_up(module, path, "Umbrex_init", shader.init);
    look_up(module, path, "Umbrex_exit", shader.exit);
    look_up(module, path, "miSetModuleHandle", shader.set_module_handle);
    const int version = shader.version();
    if (version != 1)
        throw ShaderLoadError(path + ": shader version " + std::to_string(version) +
                              ", but this host knows version 1");
    shader.set_module_handle(dlopen(nullptr, RTLD_NOW));
    return shader;
}
