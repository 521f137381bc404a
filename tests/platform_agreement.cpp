// Feeds the same few hundred scripted shading calls to the library of the
// platform it is built for and writes what came out, so that the Linux and
// the Windows builds can be compared:
//
//   umbrex_agreement record > results.txt
//   umbrex_agreement compare linux.txt windows.txt
//
// A record line per call holds the bits of the result and of every direction
// handed to the probe. Both builds follow the same single and double precision
// steps; they may differ only where the platforms' math functions round
// differently, so compare allows a few units in the last place.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/varied_calls.h"

namespace {

constexpr int call_count = 300;
constexpr std::int64_t ulps_allowed = 4;

std::uint32_t bits(float value)
{
    std::uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

int record()
{
    const ShaderLibrary &library = umbrex_library();
    library.set_module_handle(own_module());
    SplitMix64 random;
    for (int call = 0; call < call_count; ++call) {
        VariedCall varied = varied_call(random);
        const miColor result = shade_varied(library, varied);
        const ScriptedHost &host = varied.host;

        std::printf("%08" PRIx32 " %08" PRIx32 " %08" PRIx32 " %08" PRIx32, bits(result.r),
                    bits(result.g), bits(result.b), bits(result.a));
        for (const miVector &d : host.probe_directions)
            std::printf(" %08" PRIx32 " %08" PRIx32 " %08" PRIx32, bits(d.x), bits(d.y), bits(d.z));
        std::printf("\n");
    }
    return EXIT_SUCCESS;
}

std::vector<std::vector<std::uint32_t>> read_records(const char *path)
{
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path);
        std::exit(EXIT_FAILURE);
    }
    std::vector<std::vector<std::uint32_t>> records;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::vector<std::uint32_t> values;
        std::string word;
        while (words >> word)
            values.push_back(static_cast<std::uint32_t>(std::stoul(word, nullptr, 16)));
        records.push_back(values);
    }
    return records;
}

// Distance in units in the last place between two floats given by their bits.
std::int64_t ulps_between(std::uint32_t a, std::uint32_t b)
{
    const auto ordered = [](std::uint32_t x) -> std::int64_t {
        return (x & 0x80000000u) ? -static_cast<std::int64_t>(x & 0x7FFFFFFFu)
                                 : static_cast<std::int64_t>(x);
    };
    const std::int64_t distance = ordered(a) - ordered(b);
    return distance < 0 ? -distance : distance;
}

int compare(const char *first_path, const char *second_path)
{
    const auto first = read_records(first_path);
    const auto second = read_records(second_path);
    if (first.size() != call_count || second.size() != call_count) {
        std::fprintf(stderr, "expected %d calls in each record, got %zu and %zu\n", call_count,
                     first.size(), second.size());
        return EXIT_FAILURE;
    }
    int identical = 0;
    int disagreeing = 0;
    std::int64_t largest = 0;
    for (int call = 0; call < call_count; ++call) {
        const auto &a = first[call];
        const auto &b = second[call];
        if (a.size() != b.size()) {
            std::fprintf(stderr, "call %d: %zu values against %zu\n", call, a.size(), b.size());
            ++disagreeing;
            continue;
        }
        identical += a == b;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::int64_t ulps = ulps_between(a[i], b[i]);
            largest = ulps > largest ? ulps : largest;
            if (ulps > ulps_allowed) {
                std::fprintf(stderr, "call %d, value %zu: %08" PRIx32 " against %08" PRIx32
                             " (%" PRId64 " ulps)\n", call, i, a[i], b[i], ulps);
                ++disagreeing;
            }
        }
    }
    std::printf("%d of %d calls bit-identical across platforms, largest difference %" PRId64
                " ulps, %d values beyond %" PRId64 " ulps\n",
                identical, call_count, largest, disagreeing, ulps_allowed);
    return disagreeing == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "record") == 0)
        return record();
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0)
        return compare(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s record | compare FIRST SECOND\n", argv[0]);
    return 2;
}
