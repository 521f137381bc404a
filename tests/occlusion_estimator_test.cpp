// How each sample counts: open, closed or partly occluded by its hit, and how
// the three modes turn the samples into the result.

#include <cmath>

#include "tests/reference_shading.h"
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
    // Distances are compared in single precision: this rounds to the start.
    EXPECT_TRUE(same_colour(shade_one(1.00000001), dark));
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

TEST_F(OcclusionEstimator, HitsBetweenBlendAlongTheFalloffCurve)
{
    // falloff 2: k = (1 - 0.5)^(1/2)
    EXPECT_TRUE(same_colour(shade_one(2.0), reference_blend(bright, dark, powf(0.5f, 0.5f))));
    for (double t : {1.1, 1.5, 2.25, 2.9}) {
        const float k = reference_k(float(t), 1.0f, 3.0f, 2.0f);
        EXPECT_TRUE(same_colour(shade_one(t), reference_blend(bright, dark, k))) << "t " << t;
    }
    params.falloff = 1.0f;  // linear
    EXPECT_TRUE(same_colour(shade_one(2.0), {0.5f, 0.3125f, 0.5f, 0.75f}));

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
    const std::vector<std::optional<double>> hits = {std::nullopt, 0.5, 2.0, 1.7, 3.5};
    host.samples.assign(hits.size(), {0.4, 0.4});
    host.probe_hits = hits;

    miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
    for (const auto &hit : hits) {
        const float k = !hit ? 0.0f : *hit <= 1.0 ? 1.0f : *hit >= 3.0 ? 0.0f
                                                       : reference_k(float(*hit), 1.0f, 3.0f, 2.0f);
        const miColor c = k == 0.0f ? bright : k == 1.0f ? dark : reference_blend(bright, dark, k);
        sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
    }
    EXPECT_TRUE(same_colour(shade(), {sum.r / 5.0f, sum.g / 5.0f, sum.b / 5.0f, sum.a / 5.0f}));
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
    host.probe_hits = {std::nullopt, 0.5, 2.0};
    const miColor e[] = {{2.0f, 1.0f, 0.5f, 1.0f}, {0.5f, 4.0f, 1.0f, 0.25f},
                         {1.5f, 1.5f, 3.0f, 2.0f}};
    host.environment_colours.assign(std::begin(e), std::end(e));

    const miColor c[] = {bright, dark,
                         reference_blend(bright, dark, reference_k(2.0f, 1.0f, 3.0f, 2.0f))};
    miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 3; ++i)
        sum = {sum.r + c[i].r * e[i].r, sum.g + c[i].g * e[i].g, sum.b + c[i].b * e[i].b,
               sum.a + c[i].a * e[i].a};

    EXPECT_TRUE(same_colour(shade(), {sum.r / 3.0f, sum.g / 3.0f, sum.b / 3.0f, sum.a / 3.0f}));
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
    }

    // The result for a weighted sum of directions, in the stated precisions.
    static miColor normalised(miVector d, float weight, float count)
    {
        const double length = sqrtf(d.x * d.x + d.y * d.y + d.z * d.z);
        return {float(d.x / length), float(d.y / length), float(d.z / length), weight / count};
    }
};

TEST_F(BentNormals, WithEveryProbeMissingTheyAreTheNormalisedSumAndFullyOpen)
{
    host.samples = {{0.2, 0.1}, {0.6, 0.3}, {0.9, 0.8}};
    const miColor result = shade();

    ASSERT_EQ(host.probe_directions.size(), 3u);
    miVector sum = {0.0f, 0.0f, 0.0f};
    for (const miVector &d : host.probe_directions)
        sum = {sum.x + d.x, sum.y + d.y, sum.z + d.z};
    EXPECT_TRUE(same_colour(result, normalised(sum, 3.0f, 3.0f)));
    EXPECT_FLOAT_EQ(result.a, 1.0f);
    EXPECT_EQ(host.events.find('E'), std::string::npos);
}

TEST_F(BentNormals, PartialHitsWeighAndClosedOnesDropOut)
{
    host.samples = {{0.2, 0.1}, {0.6, 0.3}, {0.9, 0.8}};
    host.probe_hits = {std::nullopt, 2.5, 0.5};
    const miColor result = shade();

    const miVector open = host.probe_directions[0];
    const miVector part = host.probe_directions[1];
    const float w = 1.0f - reference_k(2.5f, 1.0f, 3.0f, 2.0f);
    const miVector sum = {open.x + part.x * w, open.y + part.y * w, open.z + part.z * w};
    EXPECT_TRUE(same_colour(result, normalised(sum, 1.0f + w, 3.0f)));
}

// With nothing open to point along, the result falls back to the sampling
// axis rather than dividing by a zero length.
TEST_F(BentNormals, NoOpenDirectionGivesTheSamplingAxis)
{
    params.bias = 0.5f;
    params.bias_direction = {1.0f, 0.0f, 0.0f};
    const miVector axis = reference_axis(state.normal, params.bias_direction, 0.5f);

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
