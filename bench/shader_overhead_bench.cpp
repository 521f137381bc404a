// The shader's own cost per sample, against the floor of what every sample
// must do anyway.
//
// The shader is called through the real, dynamically loaded library and its
// binding. The host is as cheap as a host can be: the sampler serves a
// precomputed table of pairs, the probe answers from a precomputed table of
// hits and distances (many of them between the falloff distances), the
// environment is a constant. The floor makes the same host calls through
// looked-up addresses and the double-precision square root, cosine and sine
// of each direction, and nothing else.
//
//   shader_overhead_bench [Google Benchmark flags]
//   shader_overhead_bench --paired
//       a table of shader and floor timed in alternation, fastest rounds
//   shader_overhead_bench --per-sample MODE SAMPLES [chained]
//       the shader's time per sample alone (fastest of 200 rounds), in ns:
//       the shader's part of the limit in render_throughput_bench. Chained,
//       each sample's point waits for the previous probe's answer and each
//       answer for its direction, so that no sample overlaps the next, as
//       in a render where a probe's traversal fills the processor between
//       two samples
//   shader_overhead_bench --instructions MODE SAMPLES CALLS
//       runs CALLS shading calls and as many floor calls, for counting
//       instructions under callgrind (--toggle-collect=Umbrex or
//       --toggle-collect=floor_call).

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "bench/bench_machine.h"
#include "bench/serial_dependency.h"
#include "host/host_interface.h"
#include "shader/umbrex_params.h"

namespace {

constexpr std::uint32_t table_size = 4096;  // a power of two
struct HostTables {
    double pairs[table_size][2];
    bool hit[table_size];
    double distance[table_size];
};

HostTables make_tables()
{
    HostTables t{};
    std::uint64_t x = 0x2545F4914F6CDD1Dull;
    const auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<double>(x >> 11) * 0x1.0p-53;
    };
    for (std::uint32_t i = 0; i < table_size; ++i) {
        t.pairs[i][0] = next();
        t.pairs[i][1] = next();
        t.hit[i] = next() < 0.6;
        t.distance[i] = next() * 3.0;  // falloff 0.5 to 2: closed, partial and open hits
    }
    return t;
}

const HostTables tables = make_tables();
bool chained = false;  // samples wait for the previous probe, probes for their direction

struct BenchState {
    miState state;
    miState child;
    std::uint32_t probes;
    std::uint32_t last_answer;  // the previous probe's table index
    double falloff_start, falloff_stop;
};

}  // namespace

#define HOST_FUNCTION extern "C" __attribute__((visibility("default")))

HOST_FUNCTION void *mi_phen_eval(miState *, void *param)
{
    return param;
}

HOST_FUNCTION miBoolean mi_sample(double *sample, int *counter, miState *state, unsigned short, int *count)
{
    if (*counter >= *count)
        return miFALSE;
    std::uint32_t i = static_cast<std::uint32_t>(*counter);
    if (chained)
        i += zero_after(reinterpret_cast<BenchState *>(state)->last_answer);
    i &= table_size - 1;
    sample[0] = tables.pairs[i][0];
    sample[1] = tables.pairs[i][1];
    ++*counter;
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_trace_probe(miState *state, miVector *direction, miVector *)
{
    auto *s = reinterpret_cast<BenchState *>(state);
    std::uint32_t i = s->probes++;
    if (chained) {
        std::uint32_t bits;
        std::memcpy(&bits, &direction->z, sizeof bits);
        i += zero_after(bits);
    }
    i &= table_size - 1;
    s->last_answer = i;
    if (!tables.hit[i])
        return miFALSE;
    state->child->dist = tables.distance[i];
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_trace_environment(miColor *result, miState *, miVector *)
{
    *result = {0.8f, 0.9f, 1.0f, 1.0f};
    return miTRUE;
}

HOST_FUNCTION miBoolean mi_ray_falloff(miState *state, double *start, double *stop)
{
    auto *s = reinterpret_cast<BenchState *>(state);
    std::swap(s->falloff_start, *start);
    std::swap(s->falloff_stop, *stop);
    return miTRUE;
}

namespace {

enum Mode { colour, environment, bent_normal };
const char *const mode_names[] = {"colour", "environment", "bent_normal"};

using Shader = miBoolean (*)(miColor *, miState *, Umbrex_params *);

struct Library {
    Shader shade;
    decltype(&mi_sample) sample;
    decltype(&mi_trace_probe) probe;
    decltype(&mi_trace_environment) environment;
    decltype(&mi_ray_falloff) falloff;
};

const Library &library()
{
    static const Library loaded = [] {
        void *module = dlopen(UMBREX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "cannot load %s: %s\n", UMBREX_LIBRARY, dlerror());
            std::exit(1);
        }
        void *self = dlopen(nullptr, RTLD_NOW);
        reinterpret_cast<void (*)(void *)>(dlsym(module, "miSetModuleHandle"))(self);
        // The floor reaches the host functions through looked-up addresses,
        // as the library does.
        return Library{reinterpret_cast<Shader>(dlsym(module, "Umbrex")),
                       reinterpret_cast<decltype(&mi_sample)>(dlsym(self, "mi_sample")),
                       reinterpret_cast<decltype(&mi_trace_probe)>(dlsym(self, "mi_trace_probe")),
                       reinterpret_cast<decltype(&mi_trace_environment)>(dlsym(self, "mi_trace_environment")),
                       reinterpret_cast<decltype(&mi_ray_falloff)>(dlsym(self, "mi_ray_falloff"))};
    }();
    return loaded;
}

struct Call {
    Umbrex_params params{};
    miShaderRecord record{0};
    BenchState s{};

    Call(Mode mode, int samples)
    {
        params.bright = {1.0f, 1.0f, 1.0f, 1.0f};
        params.dark = {0.0f, 0.0f, 0.0f, 1.0f};
        params.trace = 1;
        params.environment = mode == environment;
        params.bent_normals = mode == bent_normal;
        params.spread = 90.0f;
        params.samples = samples;
        params.falloff_start = 0.5f;
        params.falloff_stop = 2.0f;
        params.falloff = 1.5f;
        s.state.normal = {0.0f, 0.0f, 1.0f};
        s.state.child = &s.child;
        s.state.shader = &record;
    }
};

miColor shade(Call &call)
{
    miColor result;
    library().shade(&result, &call.s.state, &call.params);
    return result;
}

}  // namespace

// Only what every sample must do: the host calls and the sphere point's
// double-precision square root, cosine and sine.
extern "C" __attribute__((noinline)) void floor_call(Call &call, Mode mode)
{
    const Library &host = library();
    miState *state = &call.s.state;
    double start = call.params.falloff_start, stop = call.params.falloff_stop;
    host.falloff(state, &start, &stop);
    int counter = 0, count = call.params.samples;
    double sample[2];
    miColor e;
    while (host.sample(sample, &counter, state, 2, &count)) {
        const double z = 2.0 * sample[0] - 1.0;
        const double r = std::sqrt(1.0 - z * z);
        const double phi = (sample[1] * 2.0) * 3.141592653589793;
        miVector d = {static_cast<float>(std::cos(phi) * r), static_cast<float>(std::sin(phi) * r),
                      static_cast<float>(z)};
        if (mode == environment)
            host.environment(&e, state, &d);
        host.probe(state, &d, &state->point);
        benchmark::DoNotOptimize(d);
    }
    host.falloff(state, &start, &stop);
}

namespace {

void set_per_sample(benchmark::State &state, int samples)
{
    state.counters["per_sample"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Shader(benchmark::State &state, Mode mode)
{
    const int samples = static_cast<int>(state.range(0));
    Call call(mode, samples);
    for (auto _ : state)
        benchmark::DoNotOptimize(shade(call));
    set_per_sample(state, samples);
}

void BM_Floor(benchmark::State &state, Mode mode)
{
    const int samples = static_cast<int>(state.range(0));
    Call call(mode, samples);
    for (auto _ : state)
        floor_call(call, mode);
    set_per_sample(state, samples);
}

void register_benchmarks()
{
    for (Mode mode : {colour, environment, bent_normal}) {
        const std::string name = mode_names[mode];
        benchmark::RegisterBenchmark(("shader/" + name).c_str(), BM_Shader, mode)->Arg(1)->Arg(16)->Arg(256);
        benchmark::RegisterBenchmark(("floor/" + name).c_str(), BM_Floor, mode)->Arg(1)->Arg(16)->Arg(256);
    }
}

Mode mode_named(const char *name)
{
    for (Mode m : {colour, environment, bent_normal}) {
        if (std::strcmp(mode_names[m], name) == 0)
            return m;
    }
    return colour;
}

// Shader and floor timed in alternation, in rounds of calls; the fastest
// round of each stands for it, which holds up on a noisy machine.
void paired_table()
{
    using clock = std::chrono::steady_clock;
    constexpr int rounds = 200, calls = 200;
    std::printf("| mode | samples | shader (ns per sample) | floor (ns per sample) | shader / floor |\n");
    std::printf("|---|---|---|---|---|\n");
    for (Mode mode : {colour, environment, bent_normal}) {
        for (int samples : {1, 16, 256}) {
            Call call(mode, samples);
            double best_shader = 1e30, best_floor = 1e30;
            const int calls_per_round = std::max(1, calls * 16 / samples);
            for (int round = 0; round < rounds; ++round) {
                auto start = clock::now();
                for (int i = 0; i < calls_per_round; ++i)
                    benchmark::DoNotOptimize(shade(call));
                best_shader = std::min(best_shader, std::chrono::duration<double>(clock::now() - start).count());
                start = clock::now();
                for (int i = 0; i < calls_per_round; ++i)
                    floor_call(call, mode);
                best_floor = std::min(best_floor, std::chrono::duration<double>(clock::now() - start).count());
            }
            const double per = 1e9 / (static_cast<double>(calls_per_round) * samples);
            std::printf("| %s | %d | %.1f | %.1f | %.2f |\n", mode_names[mode], samples, best_shader * per,
                        best_floor * per, best_shader / best_floor);
        }
    }
}

// The fastest round of the shader alone, in ns per sample.
double shader_per_sample(Mode mode, int samples)
{
    using clock = std::chrono::steady_clock;
    constexpr int rounds = 200, calls = 200;
    Call call(mode, samples);
    const int calls_per_round = std::max(1, calls * 16 / samples);
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const auto start = clock::now();
        for (int i = 0; i < calls_per_round; ++i)
            benchmark::DoNotOptimize(shade(call));
        best = std::min(best, std::chrono::duration<double>(clock::now() - start).count());
    }
    return best * 1e9 / (static_cast<double>(calls_per_round) * samples);
}

int count_instructions(const char *mode_name, int samples, int calls)
{
    const Mode mode = mode_named(mode_name);
    Call call(mode, samples);
    for (int i = 0; i < calls; ++i) {
        benchmark::DoNotOptimize(shade(call));
        floor_call(call, mode);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--instructions") == 0)
        return count_instructions(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if ((argc == 4 || (argc == 5 && std::strcmp(argv[4], "chained") == 0)) &&
        std::strcmp(argv[1], "--per-sample") == 0) {
        chained = argc == 5;
        std::printf("%.2f\n", shader_per_sample(mode_named(argv[2]), std::atoi(argv[3])));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--paired") == 0) {
        std::printf("Machine: %s\n\n", machine_description().c_str());
        paired_table();
        return 0;
    }
    library();
    register_benchmarks();
    benchmark::AddCustomContext("machine", machine_description());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
