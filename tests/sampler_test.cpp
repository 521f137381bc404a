// The shader's sample points: the lattice's steps, its spread in each
// dimension whatever the shift, and each point uniform over the seeds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "preview/shading/sampler.h"

namespace {

// The dimension's values of a lattice of `count` points, sorted.
std::vector<double> sorted_dimension(std::uint32_t count, const LatticeShift &shift, int dimension)
{
    std::vector<double> values;
    const std::uint32_t step = lattice_step(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        double point[2];
        lattice_point(i, step, shift, point);
        EXPECT_GE(point[dimension], 0.0);
        EXPECT_LT(point[dimension], 1.0);
        values.push_back(point[dimension]);
    }
    std::sort(values.begin(), values.end());
    return values;
}

// Gaps between neighbours on the circle [0, 1).
std::vector<double> gaps(const std::vector<double> &sorted)
{
    std::vector<double> result;
    for (std::size_t i = 1; i < sorted.size(); ++i)
        result.push_back(sorted[i] - sorted[i - 1]);
    result.push_back(1.0 - sorted.back() + sorted.front());
    return result;
}

}  // namespace

TEST(Sampler, TheSecondDimensionStepsByOneOverTheCount)
{
    EXPECT_EQ(lattice_step(1), 0xFFFFFFFFu);
    EXPECT_EQ(lattice_step(2), 0x80000000u);
    EXPECT_EQ(lattice_step(16), 0x10000000u);
    EXPECT_EQ(lattice_step(3), 1431655765u);
    for (std::uint32_t count : {3u, 16u, 64u, 100u}) {
        for (double gap : gaps(sorted_dimension(count, lattice_shift(count * 7u), 1)))
            EXPECT_NEAR(gap, 1.0 / count, 1e-7) << count;  // the step rounded down: count / 2^32 at most
    }
}

// Index times the golden ratio, modulo 1: any count of points leaves gaps of
// at most three lengths (the three-gap theorem), here within half and one
// and a half times 1 / count, and one or two points in every 1 / count.
TEST(Sampler, TheFirstDimensionIsEvenForAnyCount)
{
    for (std::uint32_t count : {4u, 16u, 32u, 64u, 100u}) {
        const std::vector<double> values = sorted_dimension(count, lattice_shift(count), 0);
        const std::vector<double> g = gaps(values);
        EXPECT_GT(*std::min_element(g.begin(), g.end()) * count, 0.5) << count;
        EXPECT_LT(*std::max_element(g.begin(), g.end()) * count, 1.8) << count;
        std::vector<double> lengths;
        for (double gap : g) {
            if (std::none_of(lengths.begin(), lengths.end(), [&](double l) { return std::abs(l - gap) < 1e-8; }))
                lengths.push_back(gap);
        }
        EXPECT_LE(lengths.size(), 3u) << count;
    }
}

// Over many seeds one point of the lattice falls evenly over the square: an
// unbiased estimate whatever point the shader takes.
TEST(Sampler, EachPointIsUniformOverTheSeeds)
{
    constexpr int seeds = 8192, bins = 4;
    int counts[bins][bins] = {};
    const std::uint32_t step = lattice_step(16);
    for (int seed = 0; seed < seeds; ++seed) {
        double point[2];
        lattice_point(11, step, lattice_shift(hash_seed(3, 5, static_cast<std::uint32_t>(seed))), point);
        ++counts[static_cast<int>(point[0] * bins)][static_cast<int>(point[1] * bins)];
    }
    const double expected = static_cast<double>(seeds) / (bins * bins);
    for (const auto &row : counts) {
        for (int c : row)
            EXPECT_NEAR(c, expected, 5.0 * std::sqrt(expected)) << "a bin of the square";
    }
}

TEST(Sampler, ASeedKeyIsOneToOneAndZeroForSeedZero)
{
    EXPECT_EQ(seed_key(0), 0u);
    std::vector<std::uint32_t> keys;
    for (std::uint32_t seed = 0; seed < 4096; ++seed)
        keys.push_back(seed_key(seed));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    const LatticeShift a = lattice_shift(hash_seed(1, 2, 0)), b = lattice_shift(hash_seed(1, 2, 0) ^ seed_key(1));
    EXPECT_TRUE(a.first != b.first && a.second != b.second);
}
