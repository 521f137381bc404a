// What must hold for every sane call: a colour between dark and bright, a
// bent normal of unit length (or the axis) with an open fraction in 0..1.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/varied_calls.h"

namespace {

// The mean of values in [low, high] may pass the bounds by the rounding of
// its sum and division.
bool within(float value, float a, float b)
{
    const float low = std::min(a, b), high = std::max(a, b);
    const float slack = 1e-5f * std::max(1.0f, std::abs(high));
    return std::isfinite(value) && value >= low - slack && value <= high + slack;
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
        const miColor c = shade_varied(library, call);
        if (!p.bent_normals) {
            EXPECT_TRUE(within(c.r, p.dark.r, p.bright.r)) << "call " << i << ": r " << c.r;
            EXPECT_TRUE(within(c.g, p.dark.g, p.bright.g)) << "call " << i << ": g " << c.g;
            EXPECT_TRUE(within(c.b, p.dark.b, p.bright.b)) << "call " << i << ": b " << c.b;
            EXPECT_TRUE(within(c.a, p.dark.a, p.bright.a)) << "call " << i << ": a " << c.a;
            continue;
        }
        const float length = std::sqrt(c.r * c.r + c.g * c.g + c.b * c.b);
        // Normalised, or the unit axis, or a bias that cancelled the axis.
        EXPECT_TRUE(std::abs(length - 1.0f) < 1e-5f || length == 0.0f)
            << "call " << i << ": length " << length;
        EXPECT_TRUE(within(c.a, 0.0f, 1.0f)) << "call " << i << ": alpha " << c.a;
    }
}

}  // namespace
