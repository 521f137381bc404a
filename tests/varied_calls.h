// Shading calls with varied, sane inputs, the same sequence on every platform:
// all three modes, spreads, biases, and hits spread over the falloff range so
// that many samples are partial.
#ifndef UMBREX_TESTS_VARIED_CALLS_H
#define UMBREX_TESTS_VARIED_CALLS_H

#include <cstdint>

#include "tests/scripted_host.h"
#include "tests/shader_library.h"

// A generator with the same sequence everywhere.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed = 0x5EED) : state_(seed) {}
    std::uint64_t next();
    double unit();      // [0, 1), 53 bits
    float unit_float(); // [0, 1), 24 bits
    float between(float low, float high);
    int below(int n);

private:
    std::uint64_t state_;
};

struct VariedCall {
    ShaderInstance instance{};
    ScriptedHost host;
    miVector normal{};
};

// Unit normal, colours in 0..1, falloff > 0, 0 <= start < stop, 1 to
// max_samples samples.
VariedCall varied_call(SplitMix64 &random, int max_samples = 32);

// Shades the call through the library on this thread's scripted host.
miColor shade_varied(const ShaderLibrary &library, VariedCall &call);

#endif
