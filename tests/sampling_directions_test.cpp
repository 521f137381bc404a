// The directions the shader hands to the probe: its axis from the normal and
// the bias, its spread, and one direction per sample, bit for bit.

#include <cmath>

#include "tests/scripted_shading.h"

namespace {

class SamplingDirections : public ScriptedShading {
protected:
    // Shades with one sample per pair and returns the directions probed.
    std::vector<miVector> probe_directions(const std::vector<std::array<double, 2>> &samples)
    {
        host.forget_calls();
        host.samples = samples;
        shade();
        EXPECT_EQ(host.probe_directions.size(), samples.size());
        return host.probe_directions;
    }

    const std::vector<std::array<double, 2>> grid = {
        {0.0, 0.0},  {0.1, 0.9},   {0.25, 0.75}, {0.5, 0.5},  {0.62, 0.37},
        {0.75, 0.2}, {0.93, 0.04}, {1.0, 0.5},   {0.33, 0.999}};
};

// Worked out by hand from the sphere point of each sample, in the precisions
// the directions are formed in.
TEST_F(SamplingDirections, FollowTheSphereScaledBySpreadAndOffsetAlongTheNormal)
{
    state.normal = {0.6f, 0.0f, 0.8f};
    const struct {
        float spread;
        std::array<double, 2> sample;
        miVector direction;
    } cases[] = {{90.0f, {0.1, 0.9}, {0.5427051f, -0.17633557f, 0.0f}},
                 {90.0f, {0.62, 0.37}, {-0.032269865f, 0.3538315f, 0.52f}},
                 {45.0f, {0.93, 0.04}, {0.5735656f, 0.03172624f, 0.81500006f}},
                 {270.0f, {0.33, 0.999}, {1.1106102f, -0.008863242f, -0.90999997f}},
                 {1.0f, {0.25, 0.75}, {0.5966667f, -0.0048112525f, 0.7927778f}}};
    for (const auto &c : cases) {
        params.spread = c.spread;
        EXPECT_TRUE(same_vector(probe_directions({c.sample})[0], c.direction))
            << "spread " << c.spread << ", sample " << c.sample[0] << ", " << c.sample[1];
    }
}

TEST_F(SamplingDirections, HandWorkedSamplesOverTheWholeSphere)
{
    params.spread = 180.0f;
    state.normal = {0.0f, 1.0f, 0.0f};  // no part in the direction at 180 degrees
    const auto d = probe_directions({{0.5, 0.0}, {0.0, 0.3}, {1.0, 0.7}, {0.75, 0.5}, {0.5, 0.125}});
    EXPECT_TRUE(same_vector(d[0], {1.0f, 0.0f, 0.0f}));
    EXPECT_TRUE(same_vector(d[1], {0.0f, 0.0f, -1.0f}));
    EXPECT_TRUE(same_vector(d[2], {0.0f, 0.0f, 1.0f}));
    // z = 0.5, r = sqrt(0.75), phi = pi: (-r, sin(pi) r, 0.5), where sin(pi)
    // is a rounding residue that each platform's math library gives its own way.
    EXPECT_TRUE(same_bits(d[3].x, -0.8660254f));
    EXPECT_NEAR(d[3].y, 0.0f, 1e-15f);
    EXPECT_TRUE(same_bits(d[3].z, 0.5f));
    // On the equator at an eighth of a turn.
    EXPECT_TRUE(same_vector(d[4], {0.70710677f, 0.70710677f, 0.0f}));
}

TEST_F(SamplingDirections, ZeroSpreadLooksAlongTheUnbiasedNormalAsGiven)
{
    params.spread = 0.0f;
    state.normal = {0.0f, 0.0f, 2.0f};  // not of unit length, and used so
    for (const miVector &d : probe_directions(grid))
        EXPECT_TRUE(same_vector(d, {0.0f, 0.0f, 2.0f}));
}

TEST_F(SamplingDirections, BiasPullsTheAxisAndRenormalisesIt)
{
    params.spread = 0.0f;
    state.normal = {0.0f, 0.0f, 1.0f};

    params.bias = 1.0f;
    params.bias_direction = {0.0f, 2.0f, 0.0f};
    EXPECT_TRUE(same_vector(probe_directions({{0.3, 0.3}})[0], {0.0f, 1.0f, 0.0f}));

    // (0.7, 0, 0.3) scaled by the reciprocal of its length, sqrtf(0.58).
    params.bias = 0.7f;
    params.bias_direction = {1.0f, 0.0f, 0.0f};
    EXPECT_TRUE(same_vector(probe_directions({{0.3, 0.3}})[0], {0.91914505f, 0.0f, 0.39391932f}));

    // The pulled axis is the base of the directions at other spreads too.
    params.spread = 90.0f;
    const auto d = probe_directions({{0.1, 0.9}, {0.75, 0.2}});
    EXPECT_TRUE(same_vector(d[0], {0.7022776f, -0.17633557f, -0.20304035f}));
    EXPECT_TRUE(same_vector(d[1], {0.5933808f, 0.41181955f, 0.44695967f}));
    params.spread = 0.0f;

    // A NaN length is not zero: the axis is normalised, NaN throughout.
    params.bias_direction = {NAN, 0.0f, 0.0f};
    const miVector nan_axis = probe_directions({{0.3, 0.3}})[0];
    EXPECT_TRUE(std::isnan(nan_axis.x) && std::isnan(nan_axis.y) && std::isnan(nan_axis.z));

    // An attached direction is the host's, all three components of it.
    params.bias = 1.0f;
    attach(params.bias_direction, miVector{0.0f, 3.0f, 4.0f});
    EXPECT_TRUE(same_vector(probe_directions({{0.3, 0.3}})[0], {0.0f, 0.6f, 0.8f}));
}

TEST_F(SamplingDirections, ABiasThatCancelsTheNormalLeavesTheZeroAxis)
{
    params.spread = 0.0f;
    params.bias = 1.0f;
    params.bias_direction = {0.0f, 0.0f, 0.0f};
    EXPECT_TRUE(same_vector(probe_directions({{0.3, 0.3}})[0], {0.0f, 0.0f, 0.0f}));

    // Half way to the opposite of the normal: every direction is the sphere
    // point scaled by the spread (as above, less the axis's part).
    params.spread = 90.0f;
    params.bias = 0.5f;
    params.bias_direction = {0.0f, 0.0f, -1.0f};
    const auto d = probe_directions({{0.1, 0.9}, {0.62, 0.37}});
    EXPECT_TRUE(same_vector(d[0], {0.24270509f, -0.17633557f, -0.4f}));
    EXPECT_TRUE(same_vector(d[1], {-0.33226988f, 0.3538315f, 0.12f}));
}

}  // namespace
