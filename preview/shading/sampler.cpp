#include "preview/shading/sampler.h"

namespace {

std::uint32_t mix(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// First dimension: the bits of the index mirrored (van der Corput).
std::uint32_t reverse_bits(std::uint32_t x)
{
    x = __builtin_bswap32(x);
    x = ((x & 0x0F0F0F0Fu) << 4) | ((x & 0xF0F0F0F0u) >> 4);
    x = ((x & 0x33333333u) << 2) | ((x & 0xCCCCCCCCu) >> 2);
    x = ((x & 0x55555555u) << 1) | ((x & 0xAAAAAAAAu) >> 1);
    return x;
}

// Second dimension: the generator matrix whose columns are v_k = v_{k-1} ^ (v_{k-1} >> 1).
std::uint32_t sobol_second(std::uint32_t index)
{
    std::uint32_t result = 0;
    for (std::uint32_t v = 0x80000000u; index != 0; index >>= 1, v ^= v >> 1) {
        if (index & 1u)
            result ^= v;
    }
    return result;
}

double to_unit(std::uint32_t bits)
{
    return static_cast<double>(bits) * (1.0 / 4294967296.0);
}

}  // namespace

std::uint32_t hash_seed(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    return mix(a ^ mix(b ^ mix(c + 0x9E3779B9u)));
}

std::uint32_t seed_key(std::uint32_t seed)
{
    return mix(seed);
}

std::uint32_t pass_key(std::uint32_t seed, std::uint32_t pass)
{
    return pass == 0 ? seed_key(seed) : mix(hash_seed(seed, pass, 0x5A55E5u));
}

LatticeShift lattice_shift(std::uint32_t seed)
{
    return {mix(seed), mix(seed + 0x68E31DA4u)};
}

std::uint32_t lattice_step(std::uint32_t count)
{
    return count <= 1 ? 0xFFFFFFFFu : static_cast<std::uint32_t>((std::uint64_t{1} << 32) / count);
}

SobolScramble sobol_scramble(std::uint32_t seed)
{
    return {mix(seed), mix(seed + 0x68E31DA4u)};
}

void sobol_point(std::uint32_t index, const SobolScramble &scramble, double point[2])
{
    point[0] = to_unit(reverse_bits(index) ^ scramble.first);
    point[1] = to_unit(sobol_second(index) ^ scramble.second);
}
