#include "tests/scripted_host.h"

#include <cmath>
#include <cstdint>

ScriptedHost *active_host = nullptr;

// The host functions, exported from this executable for the library's binding
// to find.
extern "C" {

void *mi_phen_eval(miState *, void *param)
{
    ScriptedHost *host = active_host;
    if (!host)
        return nullptr;
    const std::size_t offset = static_cast<unsigned char *>(param) -
                               reinterpret_cast<const unsigned char *>(host->record);
    host->events += 'A';
    host->parameter_reads.push_back(offset);
    if (host->phen_eval_answers_null)
        return nullptr;
    return host->attached_values[offset].data();
}

miBoolean mi_sample(double *sample, int *counter, miState *state, unsigned short dimension,
                    int *count)
{
    ScriptedHost *host = active_host;
    if (!host)
        return miFALSE;
    host->events += 'S';
    host->sample_calls.push_back({counter, *counter, state, dimension, *count});
    const auto delivered = static_cast<std::size_t>(*counter);
    if (delivered >= host->samples.size())
        return miFALSE;
    sample[0] = host->samples[delivered][0];
    sample[1] = host->samples[delivered][1];
    ++*counter;
    return miTRUE;
}

miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
{
    ScriptedHost *host = active_host;
    if (!host)
        return miFALSE;
    const std::size_t probe = host->probe_directions.size();
    host->events += 'P';
    host->probe_directions.push_back(*direction);
    host->probe_origins.push_back(origin);
    if (probe >= host->probe_hits.size() || !host->probe_hits[probe])
        return miFALSE;
    state->child->dist = *host->probe_hits[probe];
    return miTRUE;
}

miBoolean mi_trace_environment(miColor *result, miState *, miVector *direction)
{
    ScriptedHost *host = active_host;
    if (!host)
        return miFALSE;
    const std::size_t lookup = host->environment_directions.size();
    host->events += 'E';
    host->environment_directions.push_back(*direction);
    if (lookup < host->environment_colours.size())
        *result = host->environment_colours[lookup];
    return miTRUE;
}

miBoolean mi_ray_falloff(miState *, double *start, double *stop)
{
    ScriptedHost *host = active_host;
    if (!host)
        return miFALSE;
    host->events += 'F';
    host->falloff_calls.push_back({*start, *stop});
    std::swap(host->falloff_start, *start);
    std::swap(host->falloff_stop, *stop);
    return miTRUE;
}
}

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
