#include "preview/shading/shader_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace {

template <typename Function>
void look_up(void *module, const std::string &path, const std::string &name, const std::string &why,
             Function *&function)
{
    function = reinterpret_cast<Function *>(dlsym(module, name.c_str()));
    if (!function)
        throw ShaderLoadError(path + ": the library does not export " + name + ", " + why);
}

}  // namespace

LoadedShader load_shader(const std::string &path, const ShaderDeclaration &declaration)
{
    // A path, never a name for the loader to search for.
    const std::string file = std::filesystem::absolute(path).string();
    void *module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw ShaderLoadError("cannot load the shader library: " + std::string(dlerror()));
    const std::string &name = declaration.name;
    const std::string companion = "which the host calls beside the shader " + name;
    LoadedShader shader{};
    look_up(module, path, name, "the shader that " + declaration.source + " declares", shader.shade);
    look_up(module, path, name + "_version", companion, shader.version);
    look_up(module, path, name + "_init", companion, shader.init);
    look_up(module, path, name + "_exit", companion, shader.exit);
    look_up(module, path, "miSetModuleHandle", "through which the host hands over its module",
            shader.set_module_handle);
    const int version = shader.version();
    if (version != declaration.version)
        throw ShaderLoadError(path + ": " + name + "_version() is " + std::to_string(version) + ", but " +
                              declaration.source + " declares version " + std::to_string(declaration.version));
    shader.set_module_handle(dlopen(nullptr, RTLD_NOW));
    return shader;
}
