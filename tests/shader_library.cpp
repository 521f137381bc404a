#include "tests/shader_library.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

// A test host cannot go on without its library or modules.
[[noreturn]] void give_up(const char *what, const char *name, const std::string &why)
{
    std::fprintf(stderr, "%s %s: %s\n", what, name, why.c_str());
    std::exit(EXIT_FAILURE);
}

template <typename Function>
void look_up(void *module, const char *name, Function *&function)
{
    function = reinterpret_cast<Function *>(module_symbol(module, name));
    if (!function)
        give_up("the library does not export", name, "no such symbol");
}

ShaderLibrary load_shader_library(const std::string &path)
{
    ShaderLibrary library{};
    void *module = load_module(path.c_str());
    look_up(module, "Umbrex", library.shade);
    look_up(module, "Umbrex_version", library.version);
    look_up(module, "Umbrex_init", library.init);
    look_up(module, "Umbrex_exit", library.exit);
    look_up(module, "miSetModuleHandle", library.set_module_handle);
    return library;
}

}  // namespace

#if defined(_WIN32)

void *load_module(const char *path)
{
    HMODULE module = LoadLibraryA(path);
    if (!module)
        give_up("cannot load", path, "error " + std::to_string(GetLastError()));
    return module;
}

void *module_symbol(void *module, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void *own_module()
{
    return GetModuleHandleA(nullptr);
}

static int process_id()
{
    return static_cast<int>(GetCurrentProcessId());
}

#else

void *load_module(const char *path)
{
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        give_up("cannot load", path, dlerror());
    return module;
}

void *module_symbol(void *module, const char *name)
{
    return dlsym(module, name);
}

void *own_module()
{
    return dlopen(nullptr, RTLD_NOW);
}

static int process_id()
{
    return static_cast<int>(getpid());
}

#endif

const ShaderLibrary &umbrex_library()
{
    static const ShaderLibrary library = load_shader_library(UMBREX_LIBRARY);
    return library;
}

ShaderLibrary fresh_umbrex_library()
{
    namespace fs = std::filesystem;
    static int copies = 0;
    const fs::path original = UMBREX_LIBRARY;
    const fs::path copy = fs::temp_directory_path() /
                          ("umbrex-copy-" + std::to_string(process_id()) + "-" +
                           std::to_string(copies++) + original.extension().string());
    fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
    ShaderLibrary library = load_shader_library(copy.string());
    std::error_code ignored;
    fs::remove(copy, ignored);  // the loaded image stays mapped; Windows keeps the file
    return library;
}

std::string handle_in_hex(void *module)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x",
                  static_cast<unsigned>(static_cast<std::uint32_t>(
                      reinterpret_cast<std::uintptr_t>(module))));
    return text;
}

std::string failed_lookup_pattern(const char *name, const std::string &handle,
                                  const std::string &error)
{
    return std::string("dlsym failed on \"") + name + "\" \\(handle: " + handle +
           " error: " + error + "\\)\n";
}
