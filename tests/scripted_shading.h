// The test fixture over the scripted host: one shading call's world, and
// bitwise comparisons of the shader's floats.
#ifndef UMBREX_TESTS_SCRIPTED_SHADING_H
#define UMBREX_TESTS_SCRIPTED_SHADING_H

#include <gtest/gtest.h>

#include <cstring>

#include "tests/scripted_host.h"
#include "tests/shader_library.h"

// One shading call's world: a host, a shader instance with usable defaults,
// and a state whose child receives the probe's hits.
class ScriptedShading : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Calls the shader through the loaded library; checks it returns 1.
    miColor shade();

    // Attaches a parameter: its value then comes from the host, not the record.
    template <typename T>
    void attach(T &field, const T &value)
    {
        const std::size_t offset = reinterpret_cast<const unsigned char *>(&field) -
                                   reinterpret_cast<const unsigned char *>(&instance.params);
        instance.attached[offset / 4] = 1;
        std::memcpy(host.attached_values[offset].data(), &value, sizeof value);
    }

    ScriptedHost host;
    ShaderInstance instance{};
    Umbrex_params &params = instance.params;
    miShaderRecord shader_record{instance_ghost_offs};
    miState child{};
    miState state{};
};

// Bitwise equality of floats, so that -0 and NaN payloads count.
testing::AssertionResult same_bits(float actual, float expected);
testing::AssertionResult same_colour(const miColor &actual, const miColor &expected);
testing::AssertionResult same_vector(const miVector &actual, const miVector &expected);

#endif
