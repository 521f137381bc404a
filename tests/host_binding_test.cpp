// The library's boundary: the host module it binds its host functions in, the
// messages of a failed lookup, and the companion exports.

#include <regex>
#include <string>

#include "tests/scripted_shading.h"


namespace {

// A module that exports none of the host functions, and the error code its
// failed lookups report: the procedure-not-found code on Windows; on Linux,
// whatever errno the C library leaves.
#if defined(_WIN32)
const char *const unrelated_module = "kernel32.dll";
const char *const lookup_error = "127";
#else
const char *const unrelated_module = "libm.so.6";
const char *const lookup_error = "-?[0-9]+";
#endif

class HostBinding : public ScriptedShading {};


// Every one of the five functions, bound in this host, is bound afresh in the
// next module handed over, and again in this host after it.
TEST_F(HostBinding, ANewModuleHandleBindsEveryFunctionAfresh)
{
    void *alternate = load_module(ALTERNATE_HOST_LIBRARY);
    ASSERT_NE(alternate, nullptr);
    const auto *alternate_events =
        static_cast<const char *>(module_symbol(alternate, "alternate_host_events"));
    params.environment = 1;
    attach(params.bright, params.bright);
    host.samples = {{0.1, 0.2}};
    host.probe_hits = {5.0};
    shade();
    EXPECT_EQ(host.events, "AFSEPSF");

    umbrex_library().set_module_handle(alternate);
    host.forget_calls();
    testing::internal::CaptureStderr();
    shade();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(host.events, "");
    EXPECT_STREQ(alternate_events, "AFSEPSF");

    umbrex_library().set_module_handle(own_module());
    shade();
    EXPECT_EQ(host.events, "AFSEPSF");
    EXPECT_STREQ(alternate_events, "AFSEPSF");
}

// A module without the host functions: each use reports the failed lookup and
// tries again next time; the shader reads its parameters in place, gets no
// sample and answers bright, without calling through a null address.
TEST_F(HostBinding, AModuleWithoutTheFunctionsGetsMessagesAndBright)
{
    void *unrelated = load_module(unrelated_module);
    ASSERT_NE(unrelated, nullptr);
    umbrex_library().set_module_handle(unrelated);
    params.bright = {0.5f, 0.25f, 0.125f, 1.0f};
    attach(params.bright, miColor{1.0f, 0.0f, 0.0f, 1.0f});
    host.samples = {{0.1, 0.2}};

    testing::internal::CaptureStderr();
    const miColor result = shade();
    const std::string messages = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(same_colour(result, {0.5f, 0.25f, 0.125f, 1.0f}));
    EXPECT_EQ(host.events, "");
    const std::string handle = handle_in_hex(unrelated);
    const std::regex expected(failed_lookup_pattern("mi_phen_eval", handle, lookup_error) +
                              failed_lookup_pattern("mi_ray_falloff", handle, lookup_error) +
                              failed_lookup_pattern("mi_sample", handle, lookup_error) +
                              failed_lookup_pattern("mi_ray_falloff", handle, lookup_error));
    EXPECT_TRUE(std::regex_match(messages, expected)) << messages;
}

// Before any handle the binding says so and still looks up with the null
// handle, which finds this host (on Linux it searches the whole process;
// under Wine it stands for the program's own module). The message comes with
// every lookup, so it counts them: one for each function's first use, none
// after.
TEST_F(HostBinding, UseBeforeAnyHandleSaysSoAndLooksEachFunctionUpOnce)
{
    const ShaderLibrary fresh = fresh_umbrex_library();
    params.environment = 1;
    attach(params.bright, params.bright);
    host.samples = {{0.1, 0.2}, {0.3, 0.4}};
    miColor result{};
    testing::internal::CaptureStderr();
    fresh.shade(&result, &state, &params);
    fresh.shade(&result, &state, &params);
    const std::string messages = testing::internal::GetCapturedStderr();

    std::string five_lookups;
    for (int i = 0; i < 5; ++i)
        five_lookups += "DYNLOAD: dl_handle null\n";
    EXPECT_EQ(messages, five_lookups);
    EXPECT_EQ(host.events, "AFSEPSEPSFAFSEPSEPSF");
}

TEST(LifecycleExports, ReportVersionOneAndDeclinePerInstanceInit)
{
    const ShaderLibrary &library = umbrex_library();
    EXPECT_EQ(library.version(), 1);

    miState state{};
    Umbrex_params params{};
    miBoolean init_request = 7;
    library.init(&state, nullptr, &init_request);
    EXPECT_EQ(init_request, miFALSE);

    init_request = 7;
    library.init(&state, &params, &init_request);
    EXPECT_EQ(init_request, 7);

    library.init(&state, nullptr, nullptr);  // no request to write: nothing happens
    library.exit(&state, &params);
    library.exit(&state, nullptr);
}

}  // namespace
