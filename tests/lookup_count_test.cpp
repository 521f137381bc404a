// Counting the library's lookups: this program's own dlsym stands in front
// of the C library's, so every lookup the binding makes passes through it.
// (Linux only, and not under the sanitizers, whose runtimes use dlsym too.)

#include <dlfcn.h>

#include <map>
#include <string>

#include "tests/scripted_shading.h"

namespace {
std::map<std::string, int> *counted_lookups = nullptr;
}

extern "C" void *dlsym(void *module, const char *name) noexcept
{
    using Dlsym = void *(*)(void *, const char *);
    static const Dlsym system_dlsym = [] {
        void *found = dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34");
        return reinterpret_cast<Dlsym>(found ? found : dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5"));
    }();
    if (counted_lookups)
        ++(*counted_lookups)[name];
    return system_dlsym(module, name);
}

namespace {

class HostLookups : public ScriptedShading {};

TEST_F(HostLookups, LooksEachFunctionUpOnceAndRemembersIt)
{
    std::map<std::string, int> lookups;
    counted_lookups = &lookups;
    params.environment = 1;
    attach(params.bright, params.bright);
    host.samples = {{0.1, 0.2}, {0.3, 0.4}};
    testing::internal::CaptureStderr();
    shade();
    shade();
    const std::string messages = testing::internal::GetCapturedStderr();
    counted_lookups = nullptr;

    EXPECT_EQ(lookups, (std::map<std::string, int>{{"mi_phen_eval", 1},
                                                    {"mi_ray_falloff", 1},
                                                    {"mi_sample", 1},
                                                    {"mi_trace_environment", 1},
                                                    {"mi_trace_probe", 1}}));
    EXPECT_EQ(messages, "");
}

}  // namespace
