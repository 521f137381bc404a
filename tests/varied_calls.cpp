#include "tests/varied_calls.h"

#include <cmath>

std::uint64_t SplitMix64::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double SplitMix64::unit()
{
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

float SplitMix64::unit_float()
{
    return static_cast<float>(next() >> 40) * 0x1.0p-24f;
}

float SplitMix64::between(float low, float high)
{
    return low + (high - low) * unit_float();
}

int SplitMix64::below(int n)
{
    return static_cast<int>(next() % static_cast<std::uint64_t>(n));
}

VariedCall varied_call(SplitMix64 &random, int max_samples)
{
    VariedCall call;
    Umbrex_params &p = call.instance.params;
    p.bright = {random.unit_float(), random.unit_float(), random.unit_float(), 1.0f};
    p.dark = {random.unit_float() * 0.2f, random.unit_float() * 0.2f, random.unit_float() * 0.2f,
              random.unit_float()};
    const int mode = random.below(3);
    p.environment = mode == 1;
    p.bent_normals = mode == 2;
    p.trace = random.below(8) != 0;
    p.spread = random.between(0.0f, 180.0f);
    p.falloff_start = random.between(0.0f, 1.0f);
    p.falloff_stop = p.falloff_start + random.between(0.5f, 4.0f);
    p.falloff = random.between(0.25f, 4.0f);
    p.bias = random.below(3) == 0 ? random.unit_float() : 0.0f;
    p.bias_direction = {random.between(-1.0f, 1.0f), random.between(-1.0f, 1.0f),
                        random.between(-1.0f, 1.0f)};
    p.samples = 1 + random.below(max_samples);

    const float nx = random.between(-1.0f, 1.0f), ny = random.between(-1.0f, 1.0f);
    const float nz = random.between(0.1f, 1.0f);
    const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    call.normal = {nx / length, ny / length, nz / length};

    ScriptedHost &host = call.host;
    for (int i = 0; i < p.samples; ++i) {
        host.samples.push_back({random.unit(), random.unit()});
        if (random.below(5) == 0)
            host.probe_hits.push_back(std::nullopt);
        else
            host.probe_hits.push_back(static_cast<double>(random.between(0.0f, p.falloff_stop * 1.2f)));
        host.environment_colours.push_back({random.unit_float() * 2.0f, random.unit_float() * 2.0f,
                                            random.unit_float() * 2.0f, random.unit_float()});
    }
    return call;
}

miColor shade_varied(const ShaderLibrary &library, VariedCall &call)
{
    miShaderRecord shader_record{0};
    miState child{};
    miState state{};
    state.child = &child;
    state.shader = &shader_record;
    state.normal = call.normal;
    call.host.record = &call.instance.params;

    ScriptedHost *previous = active_host;
    active_host = &call.host;
    miColor result{};
    library.shade(&result, &state, &call.instance.params);
    active_host = previous;
    return result;
}
