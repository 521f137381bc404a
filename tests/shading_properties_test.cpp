// What must hold for every sane call, from the hits the host scripted alone:
// each sample's occlusion lies in a range that follows from its hit (0 when
// open, 1 when closed; between a partial hit's linear share and 1 for a
// curve that holds the occlusion, between 0 and that share for one that lets
// it drop), so the colour lies in the matching range from bright toward dark,
// and a bent normal has unit length (or is the axis) with the open fraction
// in the matching range.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/varied_calls.h"

namespace {

struct Range {
    double low, high;
};

// The range of the mean occlusion over the call's samples.
Range occlusion_range(const VariedCall &call)
{
    const Umbrex_params &p = call.instance.params;
    Range sum = {0.0, 0.0};
    const std::size_t n = call.host.samples.size();
    for (std::size_t i = 0; p.trace && i < n; ++i) {
        const std::optional<double> &hit = call.host.probe_hits[i];
        if (!hit || *hit >= p.falloff_stop)
            continue;
        if (*hit <= p.falloff_start) {
            sum = {sum.low + 1.0, sum.high + 1.0};
            continue;
        }
        const double share = 1.0 - (*hit - p.falloff_start) / (p.falloff_stop - p.falloff_start);
        if (p.falloff >= 1.0f)
            sum = {sum.low + share, sum.high + 1.0};
        else
            sum = {sum.low, sum.high + share};
    }
    return {sum.low / n, sum.high / n};
}

// Within the range from `from` toward `to`, by the rounding of single
// precision sums and powers.
testing::AssertionResult within(float value, float from, float to, Range k)
{
    const double a = from + (to - from) * k.low, b = from + (to - from) * k.high;
    const double slack = 1e-5 * std::max({1.0, std::abs(a), std::abs(b)});
    if (std::isfinite(value) && value >= std::min(a, b) - slack && value <= std::max(a, b) + slack)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << value << " outside " << a << " to " << b;
}

TEST(ShadingProperties, HoldForThousandsOfSaneCalls)
{
    const ShaderLibrary &library = umbrex_library();
    library.set_module_handle(own_module());
    SplitMix64 random(7);
    for (int i = 0; i < 3000; ++i) {
        VariedCall call = varied_call(random, 256);
        Umbrex_params &p = call.instance.params;
        p.environment = 0;
        const Range k = occlusion_range(call);
        const miColor c = shade_varied(library, call);
        if (!p.bent_normals) {
            EXPECT_TRUE(within(c.r, p.bright.r, p.dark.r, k)) << "call " << i << ": r";
            EXPECT_TRUE(within(c.g, p.bright.g, p.dark.g, k)) << "call " << i << ": g";
            EXPECT_TRUE(within(c.b, p.bright.b, p.dark.b, k)) << "call " << i << ": b";
            EXPECT_TRUE(within(c.a, p.bright.a, p.dark.a, k)) << "call " << i << ": a";
            continue;
        }
        const float length = std::sqrt(c.r * c.r + c.g * c.g + c.b * c.b);
        // Normalised, or the unit axis, or a bias that cancelled the axis.
        EXPECT_TRUE(std::abs(length - 1.0f) < 1e-5f || length == 0.0f)
            << "call " << i << ": length " << length;
        EXPECT_TRUE(within(c.a, 1.0f, 0.0f, k)) << "call " << i << ": alpha";
    }
}

}  // namespace
