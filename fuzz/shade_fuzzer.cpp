// Turns its input into one complete shading call through the real library
// and binding: any bytes for the parameter record, any attachments and what
// the host answers for them, the ray type, normal and point, and a host whose
// sampler pairs, hit distances and environment colours come from the input
// too (NaN, infinities, values outside the unit interval included).
//
// What must always hold: the shader returns 1, writes its result (the same
// twice over, whatever the result held before), restores the host's falloff
// distances, and stays inside every buffer it is given.

#include <dlfcn.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/host_interface.h"
#include "shader/umbrex_params.h"

namespace {

struct Field {
    std::size_t offset, width;
};
// The parameter record's thirteen fields, in order.
constexpr Field fields[] = {{0, 16},  {16, 16}, {32, 4}, {36, 4}, {40, 4}, {44, 4}, {48, 4},
                            {52, 4},  {56, 4},  {60, 4}, {64, 4}, {68, 12}, {80, 4}};
constexpr std::size_t record_size = 84;

// What the host answers, decoded from the input.
struct Script {
    const unsigned char *record = nullptr;
    std::vector<std::unique_ptr<unsigned char[]>> attached_values;  // per field, exactly its width; null: no value
    std::vector<std::array<double, 2>> samples;
    std::vector<bool> hit_flags;  // per probe
    std::vector<double> hits;
    std::vector<bool> environment_filled;  // per lookup
    std::vector<miColor> environment;
    double falloff_start = 0.0, falloff_stop = 0.0;
};

// The host during one call.
struct FuzzHost {
    const Script *script;
    std::size_t probes = 0, lookups = 0;
    double falloff_start, falloff_stop;
    int falloff_calls = 0;
};

FuzzHost *host = nullptr;

using Shader = miBoolean (*)(miColor *, miState *, Umbrex_params *);
Shader shade = nullptr;

float raw_float(FuzzedDataProvider &input)
{
    const auto bits = input.ConsumeIntegral<std::uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double raw_double(FuzzedDataProvider &input)
{
    const auto bits = input.ConsumeIntegral<std::uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

#define HOST_FUNCTION extern "C" __attribute__((visibility("default")))

HOST_FUNCTION void *mi_phen_eval(miState *, void *param)
{
    const std::size_t offset = static_cast<const unsigned char *>(param) - host->script->record;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (fields[i].offset == offset)
            return host->script->attached_values[i].get();
    }
    std::fprintf(stderr, "mi_phen_eval asked for offset %zu, which is no parameter\n", offset);
    std::abort();
}

HOST_FUNCTION miBoolean mi_sample(double *sample, int *counter, miState *, unsigned short dimension, int *)
{
    if (dimension != 2)
        std::abort();
    const auto delivered = static_cast<std::size_t>(*counter);
    if (delivered >= host->script->samples.size())
        return miFALSE;
    sample[0] = host->script->samples[delivered][0];
    sample[1] = host->script->samples[delivered][1];
    ++*counter;
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
{
    volatile float touch = direction->x + direction->y + direction->z + origin->x + origin->y + origin->z;
    (void)touch;
    const std::size_t probe = host->probes++;
    if (probe >= host->script->hits.size() || !host->script->hit_flags[probe])
        return miFALSE;
    state->child->dist = host->script->hits[probe];
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_trace_environment(miColor *result, miState *, miVector *direction)
{
    volatile float touch = direction->x + direction->y + direction->z;
    (void)touch;
    const std::size_t lookup = host->lookups++;
    if (lookup < host->script->environment.size() && host->script->environment_filled[lookup])
        *result = host->script->environment[lookup];
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_ray_falloff(miState *, double *start, double *stop)
{
    ++host->falloff_calls;
    std::swap(host->falloff_start, *start);
    std::swap(host->falloff_stop, *stop);
    return miTRUE;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    void *library = dlopen(UMBREX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", UMBREX_LIBRARY, dlerror());
        std::abort();
    }
    shade = reinterpret_cast<Shader>(dlsym(library, "Umbrex"));
    auto set_module_handle = reinterpret_cast<void (*)(void *)>(dlsym(library, "miSetModuleHandle"));
    if (!shade || !set_module_handle)
        std::abort();
    set_module_handle(dlopen(nullptr, RTLD_NOW));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Script script;

    // The record, followed by its attachment flags when the shader record
    // has a ghost offset: exactly as large as the host lays it out.
    const bool attachable = input.ConsumeBool();
    const std::size_t ghost_offs = attachable ? record_size : 0;
    std::unique_ptr<unsigned char[]> record(new unsigned char[record_size + ghost_offs]());
    const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(record_size);
    if (!bytes.empty())
        std::memcpy(record.get(), bytes.data(), bytes.size());
    const auto attached = input.ConsumeIntegral<std::uint16_t>();
    const auto answered = input.ConsumeIntegral<std::uint16_t>();
    script.attached_values.resize(std::size(fields));
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (!attachable || !(attached >> i & 1u))
            continue;
        std::memset(record.get() + ghost_offs + fields[i].offset, 0xFF, 4);
        if (answered >> i & 1u) {  // otherwise the host has no value for it
            script.attached_values[i].reset(new unsigned char[fields[i].width]);
            for (std::size_t b = 0; b < fields[i].width; ++b)
                script.attached_values[i][b] = input.ConsumeIntegral<std::uint8_t>();
        }
    }
    script.record = record.get();

    std::unique_ptr<miShaderRecord> shader_record(new miShaderRecord{static_cast<int>(ghost_offs)});
    std::unique_ptr<miState> child(new miState{});
    std::unique_ptr<miState> state(new miState{});
    state->type = input.ConsumeIntegral<int>();
    state->point = {raw_float(input), raw_float(input), raw_float(input)};
    state->normal = {raw_float(input), raw_float(input), raw_float(input)};
    state->child = child.get();
    state->shader = shader_record.get();

    const std::size_t samples = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    for (std::size_t i = 0; i < samples; ++i) {
        script.samples.push_back({raw_double(input), raw_double(input)});
        script.hit_flags.push_back(input.ConsumeBool());
        script.hits.push_back(raw_double(input));
        script.environment_filled.push_back(input.ConsumeBool());
        script.environment.push_back({raw_float(input), raw_float(input), raw_float(input), raw_float(input)});
    }
    script.falloff_start = raw_double(input);
    script.falloff_stop = raw_double(input);

    // Twice, over different prior contents: a result that was written is the same.
    miColor results[2];
    const std::uint32_t sentinels[2] = {0x7FA5A5A5u, 0xFFC3C3C3u};
    for (int run = 0; run < 2; ++run) {
        FuzzHost call{&script, 0, 0, script.falloff_start, script.falloff_stop, 0};
        host = &call;
        std::unique_ptr<miColor> result(new miColor);
        for (float *channel : {&result->r, &result->g, &result->b, &result->a})
            std::memcpy(channel, &sentinels[run], sizeof(float));
        if (shade(result.get(), state.get(), reinterpret_cast<Umbrex_params *>(record.get())) != miTRUE)
            std::abort();
        results[run] = *result;
        host = nullptr;

        if (call.falloff_calls % 2 != 0 ||
            std::memcmp(&call.falloff_start, &script.falloff_start, sizeof(double)) != 0 ||
            std::memcmp(&call.falloff_stop, &script.falloff_stop, sizeof(double)) != 0) {
            std::fprintf(stderr, "the host's falloff distances were not restored\n");
            std::abort();
        }
    }
    if (std::memcmp(&results[0], &results[1], sizeof(miColor)) != 0) {
        std::fprintf(stderr, "the result was not written, or not the same twice\n");
        std::abort();
    }
    return 0;
}
