// How each sample counts: open, closed or partly occluded by its hit, and how
// the three modes turn the samples into the result.

#include <cmath>

#include "tests/scripted_shading.h"

namespace {

const miColor bright = {1.0f, 0.5f, 0.25f, 1.0f};
const miColor dark = {0.0f, 0.125f, 0.75f, 0.5f};

class OcclusionEstimator : public ScriptedShading {
protected:
    void SetUp() override
    {
        ScriptedShading::SetUp();
        params.bright = bright;
        params.dark = dark;
        params.falloff_start = 1.0f;
        params.falloff_stop = 3.0f;
        params.falloff = 2.0f;
    }

    // The colour-mode result of one sample whose probe answers `hit`.
    miColor shade_one(std::optional<double> hit)
    {
        host.forget_calls();
        host.samples = {{0.3, 0.6}};
        host.probe_hits = {hit};
        return shade();
    }
};

TEST_F(OcclusionEstimator, HitsAtOrBelowTheStartAreClosedAndAtOrBeyondTheStopOpen)
{
    EXPECT_TRUE(same_colour(shade_one(std::nullopt), bright));
    EXPECT_TRUE(same_colour(shade_one(0.5), dark));
    EXPECT_TRUE(same_colour(shade_one(1.0), dark));
    EXPECT_TRUE(same_colour(shade_one(-4.0), dark));
    // Distances are compared in single precision: these round to the start
    // and to the stop.
    EXPECT_TRUE(same_colour(shade_one(1.00000001), dark));
    EXPECT_TRUE(same_colour(shade_one(2.99999999), bright));
    EXPECT_TRUE(same_colour(shade_one(3.0), bright));
    EXPECT_TRUE(same_colour(shade_one(1e30), bright));
    EXPECT_TRUE(same_colour(shade_one(INFINITY), bright));

    // Closed is dark alone and open bright alone, whatever the other colour
    // or the curve would make of a blend.
    params.bright = {INFINITY, 0.5f, 0.25f, 1.0f};
    EXPECT_TRUE(same_colour(shade_one(1.0), dark));
    params.bright = bright;
    params.falloff = -1.0f;
    EXPECT_TRUE(same_colour(shade_one(3.0), bright));
}

// The blends at the hits of the three tests below.
const miColor half_dark = {0.5f, 0.3125f, 0.5f, 0.75f};             // k 1/2
const miColor three_quarters_dark = {0.25f, 0.21875f, 0.625f, 0.625f};  // k 3/4

TEST_F(OcclusionEstimator, HitsBetweenBlendAlongTheFalloffCurve)
{
    // falloff 2 holds the occlusion: k = sqrt(1 - (t - 1) / 2).
    EXPECT_TRUE(same_colour(shade_one(2.5), half_dark));
    EXPECT_TRUE(same_colour(shade_one(1.875), three_quarters_dark));
    params.falloff = 0.5f;  // lets it drop: k = 0.25^2
    EXPECT_TRUE(same_colour(shade_one(2.5), {0.9375f, 0.4765625f, 0.28125f, 0.96875f}));
    params.falloff = 1.0f;  // linear
    EXPECT_TRUE(same_colour(shade_one(2.0), half_dark));

    // Just beyond the start almost all dark, just short of the stop almost all bright.
    const miColor near_start = shade_one(std::nextafter(1.0f, 2.0f));
    const miColor near_stop = shade_one(std::nextafter(3.0f, 2.0f));
    EXPECT_NEAR(near_start.b, dark.b, 1e-4);
    EXPECT_NEAR(near_stop.b, bright.b, 1e-4);

    // A NaN distance fails both comparisons: partial, and NaN in every channel.
    const miColor nan_hit = shade_one(NAN);
    EXPECT_TRUE(std::isnan(nan_hit.r) && std::isnan(nan_hit.g) && std::isnan(nan_hit.b) &&
                std::isnan(nan_hit.a));
}

TEST_F(OcclusionEstimator, EqualStartAndStopLeaveNoPartialSample)
{
    params.falloff_start = 2.0f;
    params.falloff_stop = 2.0f;
    EXPECT_TRUE(same_colour(shade_one(2.0), dark));
    EXPECT_TRUE(same_colour(shade_one(std::nextafter(2.0f, 3.0f)), bright));
}

TEST_F(OcclusionEstimator, ColourModeAveragesTheSamplesInOrder)
{
    // bright, dark, half_dark, three_quarters_dark, bright.
    host.samples.assign(5, {0.4, 0.4});
    host.probe_hits = {std::nullopt, 0.5, 2.5, 1.875, 3.5};
    EXPECT_TRUE(same_colour(shade(), {2.75f / 5.0f, 1.65625f / 5.0f, 2.375f / 5.0f, 3.875f / 5.0f}));
    EXPECT_EQ(host.events, "FSPSPSPSPSPSF");
}

TEST_F(OcclusionEstimator, WithoutTracingEverySampleIsOpen)
{
    params.trace = 0;
    params.bright = {0.3f, 0.7f, 0.1f, 1.0f};
    host.samples.assign(3, {0.4, 0.4});
    host.probe_hits.assign(3, 0.0);
    const float r = (0.3f + 0.3f + 0.3f) / 3.0f;
    const float g = (0.7f + 0.7f + 0.7f) / 3.0f;
    const float b = (0.1f + 0.1f + 0.1f) / 3.0f;
    EXPECT_TRUE(same_colour(shade(), {r, g, b, 1.0f}));
    EXPECT_EQ(host.events, "FSSSSF");
}

TEST_F(OcclusionEstimator, EnvironmentModeLooksUpFirstAndWeightsEachSample)
{
    params.environment = 1;
    host.samples = {{0.2, 0.1}, {0.6, 0.3}, {0.9, 0.8}};
    host.probe_hits = {std::nullopt, 0.5, 2.5};
    host.environment_colours = {
        {2.0f, 1.0f, 0.5f, 1.0f}, {0.5f, 4.0f, 1.0f, 0.25f}, {1.5f, 1.5f, 3.0f, 2.0f}};

    // bright, dark and half_dark weighted: (2, 0.5, 0.125, 1) + (0, 0.5, 0.75,
    // 0.125) + (0.75, 0.46875, 1.5, 1.5).
    EXPECT_TRUE(same_colour(shade(), {2.75f / 3.0f, 1.46875f / 3.0f, 2.375f / 3.0f, 2.625f / 3.0f}));
    EXPECT_EQ(host.events, "FSEPSEPSEPSF");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(same_vector(host.environment_directions[i], host.probe_directions[i]));
}

TEST_F(OcclusionEstimator, EnvironmentIsLookedUpWithoutTracingToo)
{
    params.environment = 1;
    params.trace = 0;
    host.samples = {{0.2, 0.1}, {0.6, 0.3}};
    host.environment_colours = {{0.5f, 0.5f, 0.5f, 0.5f}, {0.25f, 0.25f, 0.25f, 0.25f}};
    const miColor result = shade();
    EXPECT_EQ(host.events, "FSESESF");
    EXPECT_TRUE(same_colour(result, {0.375f, 0.1875f, 0.09375f, 0.375f}));
}

// A host that never fills the environment colour gives black, not whatever
// the stack held; one that fills it once leaves that colour for later samples.
TEST_F(OcclusionEstimator, AnUnfilledEnvironmentColourStartsBlackAndIsNeverCleared)
{
    params.environment = 1;
    host.samples.assign(2, {0.5, 0.5});
    EXPECT_TRUE(same_colour(shade(), {0.0f, 0.0f, 0.0f, 0.0f}));

    host.forget_calls();
    host.samples.assign(2, {0.5, 0.5});
    host.environment_colours = {{0.5f, 2.0f, 4.0f, 1.0f}};
    EXPECT_TRUE(same_colour(shade(), {0.5f, 1.0f, 1.0f, 1.0f}));
}

class BentNormals : public OcclusionEstimator {
protected:
    void SetUp() override
    {
        OcclusionEstimator::SetUp();
        params.bent_normals = 1;
        params.environment = 1;  // ignored in this mode
        // Directions (0.5, 0, 0.5), (0, 0, 1) and (sqrt(3) / 4, 0, 0.75).
        host.samples = {{0.5, 0.0}, {1.0, 0.0}, {0.75, 0.0}};
    }
};

TEST_F(BentNormals, WithEveryProbeMissingTheyAreTheNormalisedSumAndFullyOpen)
{
    EXPECT_TRUE(same_colour(shade(), {0.3830451f, 0.0f, 0.92372966f, 1.0f}));
    EXPECT_EQ(host.events.find('E'), std::string::npos);
}

TEST_F(BentNormals, PartialHitsWeighAndClosedOnesDropOut)
{
    // Open, a quarter open (k 3/4) and closed: (0.5, 0, 0.75) over
    // sqrtf(0.8125), 1.25 of 3 open.
    host.probe_hits = {std::nullopt, 1.875, 0.5};
    EXPECT_TRUE(same_colour(shade(), {0.5547002f, 0.0f, 0.8320503f, 1.25f / 3.0f}));
}

// With nothing open to point along, the result falls back to the sampling
// axis rather than dividing by a zero length.
TEST_F(BentNormals, NoOpenDirectionGivesTheSamplingAxis)
{
    params.bias = 0.5f;
    params.bias_direction = {1.0f, 0.0f, 0.0f};
    const miVector axis = {0.70710677f, 0.0f, 0.70710677f};

    host.samples = {{0.2, 0.1}, {0.6, 0.3}};
    host.probe_hits = {0.5, 1.0};
    EXPECT_TRUE(same_colour(shade(), {axis.x, axis.y, axis.z, 0.0f}));

    // Two open directions that cancel exactly: the axis, fully open.
    host.forget_calls();
    host.probe_hits.clear();
    params.spread = 180.0f;
    host.samples = {{0.0, 0.25}, {1.0, 0.25}};
    EXPECT_TRUE(same_colour(shade(), {axis.x, axis.y, axis.z, 1.0f}));
}

}  // namespace
