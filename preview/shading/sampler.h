// A deterministic low-discrepancy sampler: the first two dimensions of the
// Sobol sequence, each randomised by an XOR scramble drawn from a seed, so
// that neighbouring pixels get decorrelated point sets while each keeps the
// sequence's stratification. The same seed gives the same points every run.
#ifndef UMBREX_PREVIEW_SAMPLER_H
#define UMBREX_PREVIEW_SAMPLER_H

#include <cstdint>

// A well-mixed 32-bit value for the given inputs.
std::uint32_t hash_seed(std::uint32_t a, std::uint32_t b, std::uint32_t c);

// What a frame's seed adds to each pixel's hash: different for every seed
// (the mix is one-to-one) and zero for seed 0, so that seed 0 keeps the
// pictures rendered before seeds existed.
std::uint32_t seed_key(std::uint32_t seed);

// The scramble a seed picks, one per dimension: worked out once per pixel.
struct SobolScramble {
    std::uint32_t first, second;
};
SobolScramble sobol_scramble(std::uint32_t seed);

// Point `index` of the scrambled sequence, in [0, 1) squared.
void sobol_point(std::uint32_t index, const SobolScramble &scramble, double point[2]);

#endif
