#include "tests/scripted_host.h"

#include "tests/shader_library.h"

#include <utility>

thread_local ScriptedHost *active_host = nullptr;

// The host functions, exported from this executable for the library's binding
// to find.

TEST_HOST_EXPORT void *mi_phen_eval(miState *, void *param)
{
    ScriptedHost *host = active_host;
    if (!host)
        return nullptr;
    const std::size_t offset = static_cast<unsigned char *>(param) -
                               reinterpret_cast<const unsigned char *>(host->record);
    host->events += 'A';
    host->parameter_reads.push_back(offset);
    if (host->cleared_by_phen_eval)
        std::exchange(host->cleared_by_phen_eval, nullptr)->ghost_offs = 0;
    if (host->phen_eval_answers_null)
        return nullptr;
    return host->attached_values[offset].data();
}

TEST_HOST_EXPORT miBoolean mi_sample(double *sample, int *counter, miState *state, unsigned short dimension,
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

TEST_HOST_EXPORT miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *origin)
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

TEST_HOST_EXPORT miBoolean mi_trace_environment(miColor *result, miState *, miVector *direction)
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

TEST_HOST_EXPORT miBoolean mi_ray_falloff(miState *, double *start, double *stop)
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

