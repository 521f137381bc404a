#include "tests/shader_library.h"

#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

template <typename Function>
void look_up(void *module, const char *name, Function *&function)
{
    function = reinterpret_cast<Function *>(dlsym(module, name));
    if (!function)
        ADD_FAILURE() << "the library does not export " << name;
}

ShaderLibrary load_shader_library(const std::string &path)
{
    ShaderLibrary library{};
    library.module = load_module(path.c_str());
    look_up(library.module, "Umbrex", library.shade);
    look_up(library.module, "Umbrex_version", library.version);
    look_up(library.module, "Umbrex_init", library.init);
    look_up(library.module, "Umbrex_exit", library.exit);
    look_up(library.module, "miSetModuleHandle", library.set_module_handle);
    return library;
}

}  // namespace

void *load_module(const char *path)
{
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror();
    return module;
}

const ShaderLibrary &umbrex_library()
{
    static const ShaderLibrary library = load_shader_library(UMBREX_LIBRARY);
    return library;
}

ShaderLibrary fresh_umbrex_library()
{
    namespace fs = std::filesystem;
    static int copies = 0;
    const fs::path copy = fs::temp_directory_path() /
                          ("umbrex-copy-" + std::to_string(getpid()) + "-" +
                           std::to_string(copies++) + ".so");
    fs::copy_file(UMBREX_LIBRARY, copy, fs::copy_options::overwrite_existing);
    ShaderLibrary library = load_shader_library(copy.string());
    fs::remove(copy);  // the loaded image stays mapped
    return library;
}

void *own_module()
{
    return dlopen(nullptr, RTLD_NOW);
}
