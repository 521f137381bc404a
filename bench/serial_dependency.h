// Making one step wait for another's result, for timing steps in a chain as
// they run in a render rather than overlapped as a processor runs
// independent work.
#ifndef UMBREX_BENCH_SERIAL_DEPENDENCY_H
#define UMBREX_BENCH_SERIAL_DEPENDENCY_H

#include <cstdint>

// Zero, but only once `value` is known.
inline std::uint32_t zero_after(std::uint32_t value)
{
#if defined(__x86_64__)
    asm("andl $0, %0" : "+r"(value));  // not an idiom the processor breaks the dependency of
    return value;
#else
    volatile std::uint32_t zero = 0;
    return value & zero;
#endif
}

#endif
