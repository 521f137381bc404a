// Deterministic sample points. The shader's samples: a randomly shifted
// lattice whose first dimension steps by the golden ratio and whose second
// by 1 / count, a different shift for every shaded point (so neighbouring
// pixels get decorrelated point sets, each as evenly spread as the others).
// Camera rays within a pixel: the first two dimensions of the Sobol
// sequence, XOR-scrambled. The same seed gives the same points every run.
#ifndef UMBREX_PREVIEW_SAMPLER_H
#define UMBREX_PREVIEW_SAMPLER_H

#include <cstdint>

// A well-mixed 32-bit value for the given inputs.
std::uint32_t hash_seed(std::uint32_t a, std::uint32_t b, std::uint32_t c);

// What a frame's seed adds to each pixel's hash: different for every seed
// (the mix is one-to-one) and zero for seed 0.
std::uint32_t seed_key(std::uint32_t seed);

// The key of one pass of a frame rendered in passes: pass 0's is the seed's
// own, so that a frame of one pass is the frame the seed gives; every later
// pass gets a pattern of its own, independent of the others'.
std::uint32_t pass_key(std::uint32_t seed, std::uint32_t pass);

// The scramble a seed picks, one per dimension: worked out once per pixel.
struct SobolScramble {
    std::uint32_t first, second;
};
SobolScramble sobol_scramble(std::uint32_t seed);

// Point `index` of the scrambled sequence, in [0, 1) squared.
void sobol_point(std::uint32_t index, const SobolScramble &scramble, double point[2]);

// The shift of one shaded point's lattice, per dimension, in units of 2^-32.
struct LatticeShift {
    std::uint32_t first, second;
};
LatticeShift lattice_shift(std::uint32_t seed);

// 2^32 / count, rounded down (for count 1, the largest step): the second
// dimension's step, worked out once per sample count.
std::uint32_t lattice_step(std::uint32_t count);

// Point `index` of a lattice of count points (step from lattice_step), in
// [0, 1) squared. Arithmetic modulo 2^32 is the wrap-around modulo 1: the
// first dimension is index times the golden ratio's fractional part (a
// Fibonacci lattice's spacing, even for any count), the second index / count,
// each plus its shift. Every point, taken alone, is uniform over the seeds.
inline void lattice_point(std::uint32_t index, std::uint32_t step, const LatticeShift &shift, double point[2])
{
    constexpr std::uint32_t golden = 0x9E3779B9u;  // 2^32 (sqrt(5) - 1) / 2
    constexpr double unit = 1.0 / 4294967296.0;
    point[0] = static_cast<double>(index * golden + shift.first) * unit;
    point[1] = static_cast<double>(index * step + shift.second) * unit;
}

#endif
