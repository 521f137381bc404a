#include "tests/scripted_shading.h"

#include <cstdint>

void ScriptedShading::SetUp()
{
    params.bright = {1.0f, 1.0f, 1.0f, 1.0f};
    params.dark = {0.0f, 0.0f, 0.0f, 0.0f};
    params.trace = 1;
    params.spread = 90.0f;
    params.samples = 4;
    params.falloff_start = 0.0f;
    params.falloff_stop = 10.0f;
    params.falloff = 1.0f;

    state.type = 0;
    state.point = {1.0f, 2.0f, 3.0f};
    state.normal = {0.0f, 0.0f, 1.0f};
    state.child = &child;
    state.shader = &shader_record;

    host.record = &params;
    active_host = &host;
    umbrex_library().set_module_handle(own_module());
}

void ScriptedShading::TearDown()
{
    active_host = nullptr;
}

miColor ScriptedShading::shade()
{
    miColor result = {-1.0f, -1.0f, -1.0f, -1.0f};
    EXPECT_EQ(umbrex_library().shade(&result, &state, &params), miTRUE);
    return result;
}

testing::AssertionResult same_bits(float actual, float expected)
{
    std::uint32_t a, e;
    std::memcpy(&a, &actual, sizeof a);
    std::memcpy(&e, &expected, sizeof e);
    if (a == e)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << actual << " (0x" << std::hex << a << ") is not "
                                       << expected << " (0x" << e << ")";
}

namespace {

testing::AssertionResult same_components(const float *actual, const float *expected,
                                         const char *names)
{
    for (int i = 0; names[i]; ++i) {
        if (testing::AssertionResult same = same_bits(actual[i], expected[i]); !same)
            return testing::AssertionFailure() << names[i] << ": " << same.message();
    }
    return testing::AssertionSuccess();
}

}  // namespace

testing::AssertionResult same_colour(const miColor &actual, const miColor &expected)
{
    const float a[] = {actual.r, actual.g, actual.b, actual.a};
    const float e[] = {expected.r, expected.g, expected.b, expected.a};
    return same_components(a, e, "rgba");
}

testing::AssertionResult same_vector(const miVector &actual, const miVector &expected)
{
    const float a[] = {actual.x, actual.y, actual.z};
    const float e[] = {expected.x, expected.y, expected.z};
    return same_components(a, e, "xyz");
}
