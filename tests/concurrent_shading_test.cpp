// A renderer shades from every core at once. Eight threads start together on
// an empty function table, so their first lookups race, and shade thousands
// of calls each on their own states; every result must be the one a single
// thread gets.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/varied_calls.h"

namespace {

constexpr int thread_count = 8;
constexpr int calls_per_thread = 4000;
constexpr int distinct_calls = 64;

bool same_bits(const miColor &a, const miColor &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ConcurrentShading, EightThreadsGetTheSingleThreadedResults)
{
    const ShaderLibrary &library = umbrex_library();
    library.set_module_handle(own_module());

    SplitMix64 random(42);
    std::vector<VariedCall> calls;
    std::vector<miColor> expected;
    for (int i = 0; i < distinct_calls; ++i) {
        calls.push_back(varied_call(random));
        VariedCall copy = calls.back();
        expected.push_back(shade_varied(library, copy));
    }

    library.set_module_handle(own_module());  // empties the table again
    std::atomic<int> ready{0};
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < thread_count) {
            }
            for (int i = 0; i < calls_per_thread; ++i) {
                const int which = (i * 7 + t * 13) % distinct_calls;
                VariedCall call = calls[which];
                if (!same_bits(shade_varied(library, call), expected[which]))
                    mismatches.fetch_add(1);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0) << "of " << thread_count * calls_per_thread << " calls";
}

}  // namespace
