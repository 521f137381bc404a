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
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scripted_host.h"
#include "tests/shader_library.h"

namespace {

constexpr int call_count = 300;
constexpr std::int64_t ulps_allowed = 4;

// A generator with the same sequence everywhere.
class SplitMix64 {
public:
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    float unit_float() { return static_cast<float>(next() >> 40) * 0x1.0p-24f; }
    float between(float low, float high) { return low + (high - low) * unit_float(); }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_ = 0x5EED;
};

std::uint32_t bits(float value)
{
    std::uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

// One varied call: every mode, spreads, biases, and hits spread over the
// falloff range so that many samples are partial.
void script_call(SplitMix64 &random, ScriptedHost &host, ShaderInstance &instance, miState &state)
{
    Umbrex_params &p = instance.params;
    p.bright = {random.unit_float(), random.unit_float(), random.unit_float(), 1.0f};
    p.dark = {random.unit_float() * 0.2f, random.unit_float() * 0.2f, random.unit_float() * 0.2f,
              random.unit_float()};
    const int mode = random.below(3);
    p.environment = mode == 1;
    p.bent_normals = mode == 2;
    p.trace = random.below(8) != 0;
    p.spread = random.between(0.0f, 180.0f);
    p.falloff_start = random.between(0.0f, 1.0f);
    p.falloff_stop = p.falloff_start + random.between(0.5f, 4.0f);
    p.falloff = random.between(0.25f, 4.0f);
    p.bias = random.below(3) == 0 ? random.unit_float() : 0.0f;
    p.bias_direction = {random.between(-1.0f, 1.0f), random.between(-1.0f, 1.0f),
                        random.between(-1.0f, 1.0f)};
    p.samples = 1 + random.below(32);

    const float nx = random.between(-1.0f, 1.0f), ny = random.between(-1.0f, 1.0f);
    const float nz = random.between(0.1f, 1.0f);
    const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    state.normal = {nx / length, ny / length, nz / length};

    host = ScriptedHost{};
    host.record = &p;
    for (int i = 0; i < p.samples; ++i) {
        host.samples.push_back({random.unit(), random.unit()});
        const int kind = random.below(5);
        if (kind == 0)
            host.probe_hits.push_back(std::nullopt);
        else
            host.probe_hits.push_back(
                static_cast<double>(random.between(0.0f, p.falloff_stop * 1.2f)));
        host.environment_colours.push_back(
            {random.unit_float() * 2.0f, random.unit_float() * 2.0f, random.unit_float() * 2.0f,
             random.unit_float()});
    }
}

int record()
{
    const ShaderLibrary &library = umbrex_library();
    library.set_module_handle(own_module());
    SplitMix64 random;
    for (int call = 0; call < call_count; ++call) {
        ScriptedHost host;
        ShaderInstance instance{};
        miShaderRecord shader_record{0};
        miState child{};
        miState state{};
        state.point = {0.0f, 0.0f, 0.0f};
        state.child = &child;
        state.shader = &shader_record;
        script_call(random, host, instance, state);
        active_host = &host;
        miColor result{};
        library.shade(&result, &state, &instance.params);
        active_host = nullptr;

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
