// The shader's call as the host sees it: which parameters it reads and in
// what order, its early exits, the sampler's arguments and the falloff
// distances it sets and restores.

#include <climits>
#include <cmath>
#include <limits>

#include "tests/scripted_shading.h"

namespace {

using Offsets = std::vector<std::size_t>;

class ShaderEntry : public ScriptedShading {
protected:
    void attach_every_parameter()
    {
        attach(params.bright, params.bright);
        attach(params.dark, params.dark);
        attach(params.bent_normals, params.bent_normals);
        attach(params.trace, params.trace);
        attach(params.environment, params.environment);
        attach(params.ray_type_bypass, params.ray_type_bypass);
        attach(params.spread, params.spread);
        attach(params.samples, params.samples);
        attach(params.falloff_start, params.falloff_start);
        attach(params.falloff_stop, params.falloff_stop);
        attach(params.falloff, params.falloff);
        attach(params.bias_direction, params.bias_direction);
        attach(params.bias, params.bias);
    }
};

TEST_F(ShaderEntry, ReadsEveryParameterOnceInItsOrderAndTheBiasDirectionLast)
{
    params.bias = 0.5f;
    params.bias_direction = {1.0f, 0.0f, 0.0f};
    attach_every_parameter();
    host.samples = {{0.25, 0.5}};

    shade();

    // bright, samples, ray_type_bypass, dark, trace, environment, bent_normals,
    // falloff_start, falloff_stop, spread, falloff, bias, bias_direction.
    EXPECT_EQ(host.parameter_reads, (Offsets{0, 52, 44, 16, 36, 40, 32, 56, 60, 48, 64, 80, 68}));
    EXPECT_EQ(host.events, "AAAAAAAAAAAAFASPSF");
}

TEST_F(ShaderEntry, AttachedValuesReplaceTheRecordsOwn)
{
    params.samples = 0;
    attach(params.samples, 2);
    attach(params.trace, 0);
    attach(params.bright, miColor{0.25f, 0.5f, 0.75f, 1.0f});
    host.samples = {{0.1, 0.2}, {0.3, 0.4}};

    const miColor result = shade();

    ASSERT_EQ(host.sample_calls.size(), 3u);
    for (const SampleCall &call : host.sample_calls)
        EXPECT_EQ(call.count, 2);
    EXPECT_TRUE(host.probe_directions.empty());
    EXPECT_TRUE(same_colour(result, {0.25f, 0.5f, 0.75f, 1.0f}));
}

// The flags may lie before the record: a negative ghost offset attaches too.
TEST_F(ShaderEntry, ANegativeGhostOffsetFindsFlagsBeforeTheRecord)
{
    struct {
        int flags[21];
        Umbrex_params params;
    } flags_first{};
    flags_first.params = params;
    flags_first.flags[52 / 4] = 1;  // samples, attached as 0
    host.record = &flags_first.params;
    shader_record.ghost_offs = -static_cast<int>(sizeof flags_first.flags);

    miColor result{};
    umbrex_library().shade(&result, &state, &flags_first.params);
    EXPECT_EQ(host.parameter_reads, Offsets{52});
    EXPECT_EQ(host.events, "A");
}

// The host may change the running shader's record between two parameters:
// here answering bright ends the attachments, so samples is read in place.
TEST_F(ShaderEntry, TheGhostOffsetIsReadAfreshForEachParameter)
{
    params.samples = 0;
    attach(params.samples, 3);
    attach(params.bright, miColor{1.0f, 0.0f, 0.0f, 1.0f});
    host.cleared_by_phen_eval = &shader_record;

    EXPECT_TRUE(same_colour(shade(), {1.0f, 0.0f, 0.0f, 1.0f}));
    EXPECT_EQ(host.events, "A");
}

TEST_F(ShaderEntry, ParametersAreReadInPlaceWhenNotAttached)
{
    params.samples = 0;
    params.bright = {0.5f, 0.5f, 0.5f, 0.5f};
    attach(params.samples, 3);
    attach(params.bright, miColor{1.0f, 0.0f, 0.0f, 1.0f});

    // Flags are only looked at when the shader record has a ghost offset.
    shader_record.ghost_offs = 0;
    EXPECT_TRUE(same_colour(shade(), params.bright));
    EXPECT_EQ(host.events, "");

    // A host that answers an attached parameter with no value leaves it in place.
    shader_record.ghost_offs = instance_ghost_offs;
    host.phen_eval_answers_null = true;
    EXPECT_TRUE(same_colour(shade(), params.bright));
    EXPECT_EQ(host.parameter_reads, (Offsets{0, 52}));

    // Without a flag the value is read in place, with no call to the host.
    host.forget_calls();
    instance.attached[0] = 0;
    instance.attached[52 / 4] = 0;
    EXPECT_TRUE(same_colour(shade(), params.bright));
    EXPECT_EQ(host.events, "");

    // A state without a shader record has nothing attached.
    instance.attached[0] = 1;
    state.shader = nullptr;
    EXPECT_TRUE(same_colour(shade(), params.bright));
    EXPECT_EQ(host.events, "");
}

TEST_F(ShaderEntry, ZeroSamplesReturnBrightAndTouchNothing)
{
    params.samples = 0;
    params.bright = {0.1f, 0.2f, 0.3f, 0.4f};
    params.dark = {std::nanf(""), 1.0f, 1.0f, 1.0f};
    params.falloff = 0.0f;
    attach_every_parameter();

    EXPECT_TRUE(same_colour(shade(), {0.1f, 0.2f, 0.3f, 0.4f}));
    EXPECT_EQ(host.events, "AA");
    EXPECT_EQ(host.parameter_reads, (Offsets{0, 52}));
    EXPECT_EQ(host.falloff_start, 7.0);
}

TEST_F(ShaderEntry, BypassedRayTypesReturnBrightWithoutSampling)
{
    params.ray_type_bypass = 1;
    params.bright = {0.5f, 0.25f, 0.125f, 1.0f};
    attach_every_parameter();
    for (int type : {8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 20, 23, 24, 27}) {
        host.forget_calls();
        state.type = type;
        EXPECT_TRUE(same_colour(shade(), params.bright)) << "ray type " << type;
        EXPECT_EQ(host.parameter_reads, (Offsets{0, 52, 44})) << "ray type " << type;
        EXPECT_EQ(host.events, "AAA") << "ray type " << type;  // no falloff set
    }
}

TEST_F(ShaderEntry, OtherRayTypesAndBypassValuesSampleInFull)
{
    host.samples = {{0.5, 0.5}};
    const int other_types[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 21, 22, 25, 26,
                               28, 31, 32, 59, INT_MAX};
    for (int type : other_types) {
        host.forget_calls();
        params.ray_type_bypass = 1;
        state.type = type;
        shade();
        EXPECT_EQ(host.events, "FSPSF") << "ray type " << type;
    }
    for (int bypass : {0, 2, -1, 257}) {
        host.forget_calls();
        params.ray_type_bypass = bypass;
        state.type = 20;
        shade();
        EXPECT_EQ(host.events, "FSPSF") << "ray_type_bypass " << bypass;
    }
}

TEST_F(ShaderEntry, TheSamplerGetsTheRequestedCountUnchangedAndOneCounter)
{
    params.samples = -5;
    host.samples = {{0.1, 0.1}, {0.2, 0.2}, {0.3, 0.3}};

    shade();

    ASSERT_EQ(host.sample_calls.size(), 4u);
    for (std::size_t i = 0; i < host.sample_calls.size(); ++i) {
        const SampleCall &call = host.sample_calls[i];
        EXPECT_EQ(call.count, -5);
        EXPECT_EQ(call.dimension, 2u);
        EXPECT_EQ(call.state, &state);
        EXPECT_EQ(call.counter, host.sample_calls[0].counter);
        EXPECT_EQ(call.counter_value, static_cast<int>(i));
    }
    for (const miVector *origin : host.probe_origins)
        EXPECT_EQ(origin, &state.point);
}

TEST_F(ShaderEntry, SetsItsFalloffForTheLoopAndRestoresTheHosts)
{
    params.falloff_start = 0.1f;
    params.falloff_stop = 2.5f;
    // Beyond the shader's stop, inside the host's previous distances (7 to 11):
    // open only if the loop compares against the shader's own values.
    host.samples = {{0.5, 0.5}};
    host.probe_hits = {9.0};

    const miColor result = shade();

    EXPECT_EQ(host.events.front(), 'F');
    EXPECT_EQ(host.events.back(), 'F');
    ASSERT_EQ(host.falloff_calls.size(), 2u);
    EXPECT_EQ(host.falloff_calls[0], (std::array<double, 2>{double(0.1f), 2.5}));
    EXPECT_EQ(host.falloff_calls[1], (std::array<double, 2>{7.0, 11.0}));
    EXPECT_EQ(host.falloff_start, 7.0);
    EXPECT_EQ(host.falloff_stop, 11.0);
    EXPECT_TRUE(same_colour(result, params.bright));
}

TEST_F(ShaderEntry, NoBiasNeverReadsTheBiasDirection)
{
    attach(params.bias_direction, miVector{1.0f, 0.0f, 0.0f});
    for (float bias : {0.0f, -0.5f, -0.0f, std::nanf("")}) {
        host.forget_calls();
        params.bias = bias;
        host.samples = {{0.5, 0.5}};
        shade();
        EXPECT_EQ(host.parameter_reads, Offsets{}) << "bias " << bias;
    }
}

// A host whose sampler delivers nothing: the result is bright in every mode
// (not a division by a zero count), and the falloff is still set and restored.
TEST_F(ShaderEntry, NoSampleDeliveredGivesBrightInEveryMode)
{
    params.bright = {0.5f, 0.25f, 0.125f, 1.0f};
    for (int mode = 0; mode < 3; ++mode) {
        host.forget_calls();
        params.environment = mode == 1;
        params.bent_normals = mode == 2;
        EXPECT_TRUE(same_colour(shade(), params.bright)) << "mode " << mode;
        EXPECT_EQ(host.events, "FSF") << "mode " << mode;
    }
}

}  // namespace
