// A host whose answers are scripted by the test and which records every call
// the shader makes, with its arguments, in order.
#ifndef UMBREX_TESTS_SCRIPTED_HOST_H
#define UMBREX_TESTS_SCRIPTED_HOST_H

#include <array>
#include <cstddef>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "shader/umbrex_params.h"

// A shader instance as the host lays it out: the parameter record followed by
// one attachment flag per 4-byte word of it, found ghost_offs bytes beyond.
struct ShaderInstance {
    Umbrex_params params;
    unsigned char gap[12];
    int attached[sizeof(Umbrex_params) / 4];
};
constexpr int instance_ghost_offs = offsetof(ShaderInstance, attached);

struct SampleCall {
    int *counter;
    int counter_value;
    miState *state;
    unsigned dimension;
    int count;
};

struct ScriptedHost {
    // What the host answers.
    std::vector<std::array<double, 2>> samples;       // the sampler's pairs, in order
    std::vector<std::optional<double>> probe_hits;    // per probe: hit distance; none or beyond: miss
    std::vector<miColor> environment_colours;         // per lookup; beyond: left unfilled
    std::map<std::size_t, std::array<unsigned char, 16>> attached_values;  // by record offset
    bool phen_eval_answers_null = false;
    miShaderRecord *cleared_by_phen_eval = nullptr;  // its ghost_offs set to 0 by the next mi_phen_eval
    double falloff_start = 7.0;  // the host's falloff distances in force
    double falloff_stop = 11.0;

    // What the shader asked, in order. `events` holds one letter a call:
    // A mi_phen_eval, F mi_ray_falloff, S mi_sample, E mi_trace_environment,
    // P mi_trace_probe.
    std::string events;
    std::vector<std::size_t> parameter_reads;  // record offsets
    std::vector<std::array<double, 2>> falloff_calls;
    std::vector<SampleCall> sample_calls;
    std::vector<miVector> probe_directions;
    std::vector<const miVector *> probe_origins;
    std::vector<miVector> environment_directions;

    const Umbrex_params *record = nullptr;

    // Forgets what was asked, keeping the script.
    void forget_calls()
    {
        events.clear();
        parameter_reads.clear();
        falloff_calls.clear();
        sample_calls.clear();
        probe_directions.clear();
        probe_origins.clear();
        environment_directions.clear();
    }
};

// The host the exported host functions serve on this thread; null answers
// every call with 0.
extern thread_local ScriptedHost *active_host;

#endif
