// A host process that offers none of the host functions: the library reports
// each failed lookup and still answers every call, with bright.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/shader_library.h"

namespace {

struct BareCall {
    Umbrex_params params{};
    miShaderRecord record{0};
    miState state{};
    miColor result{-1.0f, -1.0f, -1.0f, -1.0f};

    BareCall()
    {
        params.bright = {0.5f, 0.25f, 0.125f, 1.0f};
        params.trace = 1;
        params.samples = 16;
        params.spread = 90.0f;
        state.shader = &record;
    }
};

TEST(BareHost, WithoutAHandleTheNullHandleFailsToo)
{
    const ShaderLibrary library = fresh_umbrex_library();
    BareCall call;
    testing::internal::CaptureStderr();
    EXPECT_EQ(library.shade(&call.result, &call.state, &call.params), miTRUE);
    const std::string messages = testing::internal::GetCapturedStderr();

    const std::string null_handle = "DYNLOAD: dl_handle null\n";
    const std::regex expected(null_handle + failed_lookup_pattern("mi_ray_falloff", "00000000") +
                              null_handle + failed_lookup_pattern("mi_sample", "00000000") +
                              null_handle + failed_lookup_pattern("mi_ray_falloff", "00000000"));
    EXPECT_TRUE(std::regex_match(messages, expected)) << messages;
    EXPECT_EQ(call.result.r, 0.5f);
    EXPECT_EQ(call.result.a, 1.0f);
}

TEST(BareHost, ItsOwnModuleLacksTheFunctions)
{
    const ShaderLibrary library = fresh_umbrex_library();
    void *self = own_module();
    library.set_module_handle(self);
    const std::string handle = handle_in_hex(self);
    BareCall call;
    call.params.bent_normals = 1;

    for (int repeat = 0; repeat < 2; ++repeat) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(library.shade(&call.result, &call.state, &call.params), miTRUE);
        const std::string messages = testing::internal::GetCapturedStderr();
        const std::regex expected(failed_lookup_pattern("mi_ray_falloff", handle) +
                                  failed_lookup_pattern("mi_sample", handle) +
                                  failed_lookup_pattern("mi_ray_falloff", handle));
        EXPECT_TRUE(std::regex_match(messages, expected)) << messages;
        EXPECT_EQ(call.result.g, 0.25f);
    }
}

}  // namespace
