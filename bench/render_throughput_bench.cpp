// umbrex-render's probe-ray throughput against Embree's own rate on exactly
// the same probe rays, against the limit (Embree's time on those probes plus
// the shader's own time per sample), and how the time per probe ray and the
// peak memory grow with the scene. Prints Markdown tables.
//
//   render_throughput_bench           the full run
//   render_throughput_bench --smoke   tiny sizes, to show it runs
//   render_throughput_bench --structures
//       only the table of the structures probes can be traced on
//   render_throughput_bench --write-scene TRIANGLES FILE.obj
//       writes the generated scene of about that many triangles, for
//       profiling umbrex-render on it and for the peer comparison
//   render_throughput_bench --write-bake-scene FILE.obj
//       writes the bake comparison's scene with its UVs

#include <embree3/rtcore.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_machine.h"
#include "bench/bench_scenes.h"
#include "bench/serial_dependency.h"
#include "preview/scene/camera.h"
#include "preview/shading/environment.h"
#include "preview/shading/parameter_record.h"
#include "preview/scene/ray_tracer.h"
#include "preview/render/renderer.h"
#include "preview/shading/shader_declaration.h"
#include "preview/shading/shader_loader.h"

namespace {

struct Sizes {
    int width, height;
    std::size_t big_scene;
    std::vector<std::size_t> scale_scenes;
    std::vector<std::size_t> structure_scenes;
    int repeats;
};

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of the whole process, all threads: what the other processes on a
// busy machine inflate far less than wall time.
double process_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Renders one frame with the defaults of the declaration, or a look's
// parameters ("name=value") over them.
struct Renderer {
    const LoadedShader &shader;
    const ShaderDeclaration &declaration;

    FrameStatistics render(const RayTracer &tracer, const Camera &camera, int width, int height, int threads,
                           std::vector<std::vector<ProbeRay>> *probe_logs,
                           const std::vector<std::string> &look = {}) const
    {
        ParameterRecord record(declaration);
        for (const std::string &assignment : look)
            record.set(assignment);
        const Environment environment = Environment::sky();
        const FrameScene frame = make_frame_scene(tracer, environment, record, {}, UpAxis::y);
        miShaderRecord shader_record{record.ghost_offs()};
        RenderSettings settings;
        settings.width = width;
        settings.height = height;
        settings.threads = threads;
        settings.probe_logs = probe_logs;
        FrameStatistics statistics;
        render_frame(shader, frame, shader_record, camera, settings, statistics);
        return statistics;
    }
};

// How the recorded probes are traced again.
enum class Replay {
    as_traced,  // as umbrex-render traced them
    nearest,    // yes/no probes as nearest-hit queries to no stop, as before they were told apart
};

// Embree alone on the recorded rays, in a tight loop, the queries set up
// beforehand, the rays split among the threads, with the start-triangle
// filter: rtcIntersect1 for nearest-hit probes, rtcOccluded1 for yes/no ones
// (each on its structure).
// Chained, each probe starts only once the previous one's result is in, as
// in a render, instead of overlapping with it.
double embree_seconds(RTCScene scene, RTCScene yes_no_scene, const std::vector<ProbeRay> &rays, int threads,
                      double *cpu_seconds = nullptr, bool chained = false, Replay replay = Replay::as_traced)
{
    std::vector<RTCRayHit> queries(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        RTCRayHit &q = queries[i];
        std::memset(&q, 0, sizeof q);
        q.ray.org_x = rays[i].origin.x;
        q.ray.org_y = rays[i].origin.y;
        q.ray.org_z = rays[i].origin.z;
        q.ray.dir_x = rays[i].direction.x;
        q.ray.dir_y = rays[i].direction.y;
        q.ray.dir_z = rays[i].direction.z;
        q.ray.tfar = rays[i].yes_no && replay == Replay::nearest ? infinite_reach : rays[i].reach;
        q.ray.mask = 0xFFFFFFFFu;
        q.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    }
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = process_cpu_seconds();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            ProbeContext nearest{}, yes_no{};
            rtcInitIntersectContext(&nearest.context);
            nearest.context.filter = skip_start_triangle;
            rtcInitIntersectContext(&yes_no.context);
            yes_no.context.filter = skip_start_triangle_and_beyond;
            const std::size_t begin = queries.size() * t / threads, end = queries.size() * (t + 1) / threads;
            std::size_t wait = 0;
            for (std::size_t i = begin; i < end; ++i) {
                const ProbeRay &ray = rays[i + wait];
                RTCRayHit &query = queries[i + wait];
                if (ray.yes_no && replay == Replay::as_traced) {
                    yes_no.skip = ray.skip;
                    yes_no.length = ray.length;
                    yes_no.within = ray.within;
                    rtcOccluded1(yes_no_scene, &yes_no.context, &query.ray);
                    std::uint32_t answer;
                    std::memcpy(&answer, &query.ray.tfar, sizeof answer);
                    if (chained)
                        wait = zero_after(answer);
                } else {
                    nearest.skip = ray.skip;
                    rtcIntersect1(ray.yes_no ? yes_no_scene : scene, &nearest.context, &query);
                    if (chained)
                        wait = zero_after(query.hit.geomID);
                }
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    if (cpu_seconds)
        *cpu_seconds = process_cpu_seconds() - cpu_start;
    return seconds_since(start);
}

double embree_seconds(const RayTracer &tracer, const std::vector<ProbeRay> &rays, int threads,
                      double *cpu_seconds = nullptr, bool chained = false)
{
    return embree_seconds(tracer.scene(), tracer.yes_no_scene(), rays, threads, cpu_seconds, chained);
}

// Bytes Embree holds on a device, as its memory monitor counts them.
std::atomic<long long> embree_bytes{0};

bool count_embree_bytes(void *, ssize_t bytes, bool)
{
    embree_bytes += bytes;
    return true;
}

// The mesh in an Embree scene of its own, built with the given flags and
// quality, over the mesh's own buffers; how long the build took and how much
// memory it holds.
class FlaggedScene {
public:
    FlaggedScene(const Mesh &mesh, RTCSceneFlags flags, RTCBuildQuality quality)
        : device_(rtcNewDevice(nullptr)), scene_(rtcNewScene(device_))
    {
        rtcSetDeviceMemoryMonitorFunction(device_, count_embree_bytes, nullptr);
        const long long bytes_before = embree_bytes;
        const auto start = std::chrono::steady_clock::now();
        rtcSetSceneBuildQuality(scene_, quality);
        rtcSetSceneFlags(scene_, flags | RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        rtcSetGeometryBuildQuality(geometry, quality);
        rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, mesh.positions.data(), 0,
                                   sizeof(Vec3), mesh.positions.size());
        rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, mesh.triangles.data(), 0,
                                   3 * sizeof(std::uint32_t), mesh.triangles.size());
        rtcCommitGeometry(geometry);
        rtcAttachGeometry(scene_, geometry);
        rtcReleaseGeometry(geometry);
        rtcCommitScene(scene_);
        build_seconds_ = seconds_since(start);
        bytes_ = embree_bytes - bytes_before;
    }
    ~FlaggedScene()
    {
        rtcReleaseScene(scene_);
        rtcReleaseDevice(device_);
    }
    RTCScene scene() const { return scene_; }
    double build_seconds() const { return build_seconds_; }
    long long bytes() const { return bytes_; }

private:
    RTCDevice device_;
    RTCScene scene_;
    double build_seconds_;
    long long bytes_;
};

struct Throughput {
    std::uint64_t rays;
    double render_rate, embree_rate;  // probe rays per second
    double render_cpu, embree_cpu;    // CPU seconds per probe ray, all threads
    double chained_cpu;               // Embree's, each probe waiting for the last
    double camera_cpu;                // Embree's on the frame's camera rays, per probe ray
};

// Embree alone on a frame's camera rays, one through each pixel's centre,
// traced in bundles of sixteen as the renderer traces them (here along the
// image's rows rather than a tile's). In CPU seconds.
double camera_ray_seconds(const RayTracer &tracer, const Camera &camera, int width, int height)
{
    const CameraRays rays(camera, tracer.mesh().origin, UpAxis::y, width, height);
    std::vector<Vec3> directions;
    directions.reserve(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            directions.push_back(rays.direction(x + 0.5, y + 0.5));
    }
    RayHit hits[RayTracer::max_bundle];
    const double start = process_cpu_seconds();
    for (std::size_t i = 0; i < directions.size(); i += RayTracer::max_bundle)
        tracer.intersect_bundle(rays.eye(), &directions[i], std::min(RayTracer::max_bundle, directions.size() - i),
                                hits);
    return process_cpu_seconds() - start;
}

Throughput measure(const Renderer &renderer, const RayTracer &tracer, const Camera &camera, const Sizes &sizes,
                   int threads, const std::vector<std::string> &look)
{
    Throughput best{0, 0.0, 0.0, 1e30, 1e30, 1e30, 1e30};
    for (int repeat = 0; repeat < sizes.repeats; ++repeat) {
        std::vector<std::vector<ProbeRay>> logs;
        const double cpu_start = process_cpu_seconds();
        const FrameStatistics frame =
            renderer.render(tracer, camera, sizes.width, sizes.height, threads, nullptr, look);
        const double render_cpu = process_cpu_seconds() - cpu_start;
        renderer.render(tracer, camera, sizes.width, sizes.height, 1, &logs, look);
        double embree_cpu = 0.0;
        const double embree = embree_seconds(tracer, logs[0], threads, &embree_cpu);
        best.rays = frame.probe_rays;
        best.render_rate = std::max(best.render_rate, frame.probe_rays / frame.seconds);
        best.embree_rate = std::max(best.embree_rate, logs[0].size() / embree);
        best.render_cpu = std::min(best.render_cpu, render_cpu / static_cast<double>(frame.probe_rays));
        best.embree_cpu = std::min(best.embree_cpu, embree_cpu / static_cast<double>(logs[0].size()));
        double chained_cpu = 0.0;
        embree_seconds(tracer, logs[0], threads, &chained_cpu, true);
        best.chained_cpu = std::min(best.chained_cpu, chained_cpu / static_cast<double>(logs[0].size()));
        best.camera_cpu = std::min(best.camera_cpu, camera_ray_seconds(tracer, camera, sizes.width, sizes.height) /
                                                        static_cast<double>(logs[0].size()));
    }
    return best;
}

// The shader's own time per sample at its default 32 samples, from the
// overhead benchmark (its host as cheap as a host can be), in ns; chained,
// each sample waiting for the last.
double shader_ns_per_sample(bool chained)
{
    FILE *run = popen(chained ? SHADER_OVERHEAD_BENCH " --per-sample colour 32 chained"
                              : SHADER_OVERHEAD_BENCH " --per-sample colour 32",
                      "r");
    double ns = 0.0;
    if (!run || std::fscanf(run, "%lf", &ns) != 1)
        ns = 0.0;
    if (run && pclose(run) != 0)
        ns = 0.0;
    if (!(ns > 0.0))
        throw std::runtime_error("the overhead benchmark gave no time per sample");
    return ns;
}

// The shader's time per sample, both ways.
struct ShaderTimes {
    double alone, chained;  // ns

    // Measured now; and the faster of now and before, for times taken
    // before and after the renders they stand beside.
    static ShaderTimes measured() { return {shader_ns_per_sample(false), shader_ns_per_sample(true)}; }
    void keep_faster(const ShaderTimes &other)
    {
        alone = std::min(alone, other.alone);
        chained = std::min(chained, other.chained);
    }
};

struct LimitRow {
    std::string scene;
    int threads;
    Throughput measured;
};

// Per probe, in CPU time summed over the threads: the limit is Embree's time
// on the frame's probes plus the shader's own time per sample; umbrex-render's
// time as a ratio of it (1 would be a host that costs nothing, if Embree's
// and the shader's times simply added up). Then two steps closer to what a
// render must do: the serial limit, with both chained (each probe waiting
// for the last, each sample for the last, as in a render); and the limit
// with Embree's time on the frame's camera rays added, which every render
// traces too. Wall-time rates are in the table above; CPU time holds up
// better on a busy machine.
void limit_table(const std::vector<LimitRow> &rows, ShaderTimes shader, const Sizes &sizes)
{
    std::printf("## The limit (%dx%d; CPU ns per probe, all threads; Embree alone on the same probes, plus the "
                "shader's %.1f ns per sample from shader_overhead_bench --per-sample colour 32, whose falloff "
                "makes some samples partial: a little more than a cut-off's open or closed ones cost; serial: "
                "both chained, the shader's %.1f ns from the same with chained; camera rays: Embree alone on the "
                "frame's camera rays, per probe)\n\n",
                sizes.width, sizes.height, shader.alone, shader.chained);
    std::printf("| scene | threads | Embree | limit | render | limit / render | Embree, chained | serial limit | "
                "serial limit / render | camera rays | limit with camera rays / render |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const LimitRow &row : rows) {
        const double embree = row.measured.embree_cpu * 1e9, render = row.measured.render_cpu * 1e9;
        const double chained = row.measured.chained_cpu * 1e9, camera = row.measured.camera_cpu * 1e9;
        const double limit = embree + shader.alone, serial = chained + shader.chained;
        std::printf("| %s | %d | %.1f | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f | %.1f | %.2f |\n",
                    row.scene.c_str(), row.threads, embree, limit, render, limit / render, chained, serial,
                    serial / render, camera, (limit + camera) / render);
    }
    std::printf("\n");
}

void throughput_table(const Renderer &renderer, const Sizes &sizes)
{
    ShaderTimes shader = ShaderTimes::measured();
    std::vector<LimitRow> limits;
    const int all = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::printf("## Host throughput (%dx%d, %d threads for \"all\")\n\n", sizes.width, sizes.height, all);
    std::printf("| scene | triangles | probe rays | render, 1 thread (M/s) | Embree, 1 thread (M/s) | ratio | "
                "render, all (M/s) | Embree, all (M/s) | ratio | render all / 1 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");

    const std::string obj = (std::filesystem::temp_directory_path() /
                             ("umbrex-bench-" + std::to_string(getpid()) + ".obj")).string();
    write_obj(make_bench_scene(sizes.big_scene), obj);
    struct Case {
        std::string name;
        Mesh mesh;
        bool default_camera;
    };
    Case cases[] = {{"default scene", make_default_scene(), true},
                    {"generated OBJ", load_obj(obj).mesh, false}};
    std::filesystem::remove(obj);
    // The defaults, whose probes want their hit's distance, and a hard
    // 1-unit cut-off, whose probes are yes/no questions.
    const struct {
        const char *name;
        std::vector<std::string> look;
    } looks[] = {{"", {}}, {", 1-unit cut-off", {"falloff_start=1", "falloff_stop=1"}}};
    for (const Case &c : cases) {
        const RayTracer tracer(c.mesh);
        const Camera camera = c.default_camera ? default_scene_camera()
                                               : framing_camera(c.mesh, float(sizes.width) / sizes.height, UpAxis::y);
        for (const auto &look : looks) {
            const Throughput one = measure(renderer, tracer, camera, sizes, 1, look.look);
            const Throughput many = measure(renderer, tracer, camera, sizes, all, look.look);
            const std::string named =
                c.name + " (" + std::to_string(c.mesh.triangles.size()) + " triangles)" + look.name;
            limits.push_back({named, 1, one});
            limits.push_back({named, all, many});
            std::printf("| %s%s | %zu | %llu | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", c.name.c_str(),
                        look.name, c.mesh.triangles.size(), static_cast<unsigned long long>(one.rays),
                        one.render_rate / 1e6, one.embree_rate / 1e6, one.render_rate / one.embree_rate,
                        many.render_rate / 1e6, many.embree_rate / 1e6, many.render_rate / many.embree_rate,
                        many.render_rate / one.render_rate);
        }
    }
    std::printf("\n");
    shader.keep_faster(ShaderTimes::measured());
    limit_table(limits, shader, sizes);
}

// The structure probes are traced on: Embree alone on the probes of one
// frame, the scene built robust (watertight) or plain, at high quality
// (spatial splits) or medium; the default look's probes, nearest-hit queries,
// and a hard 1-unit cut-off's, yes/no occlusion queries and, as before they
// were told apart, nearest-hit queries to no stop. With the build's time on
// all threads and the memory Embree holds for it (the vertices and indices
// are the mesh's own, shared).
void structure_table(const Renderer &renderer, const Sizes &sizes)
{
    std::printf("## Probe structures (Embree alone on one frame's probes, one thread, ns per probe, fastest of %d; "
                "build on %u threads)\n\n",
                sizes.repeats, std::max(1u, std::thread::hardware_concurrency()));
    std::printf("| scene | structure | build (s) | memory (MiB) | default look, nearest hit | 1-unit cut-off, "
                "yes/no | 1-unit cut-off, nearest hit to no stop |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const std::vector<std::string> hard_cut_off = {"falloff_start=1", "falloff_stop=1"};
    struct Structure {
        const char *name;
        RTCSceneFlags flags;
        RTCBuildQuality quality;
    };
    const Structure structures[] = {{"robust, high", RTC_SCENE_FLAG_ROBUST, RTC_BUILD_QUALITY_HIGH},
                                    {"plain, high", RTC_SCENE_FLAG_NONE, RTC_BUILD_QUALITY_HIGH},
                                    {"robust, medium", RTC_SCENE_FLAG_ROBUST, RTC_BUILD_QUALITY_MEDIUM},
                                    {"plain, medium", RTC_SCENE_FLAG_NONE, RTC_BUILD_QUALITY_MEDIUM}};
    struct Case {
        std::string name;
        Mesh mesh;
        bool default_camera;
    };
    std::vector<Case> cases;
    cases.push_back({"default scene", make_default_scene(), true});
    for (std::size_t triangles : sizes.structure_scenes)
        cases.push_back({"generated", make_bench_scene(triangles), false});
    for (const Case &c : cases) {
        const RayTracer tracer(c.mesh);
        const Camera camera = c.default_camera ? default_scene_camera()
                                               : framing_camera(c.mesh, float(sizes.width) / sizes.height, UpAxis::y);
        std::vector<std::vector<ProbeRay>> look, cut_off;
        renderer.render(tracer, camera, sizes.width, sizes.height, 1, &look);
        renderer.render(tracer, camera, sizes.width, sizes.height, 1, &cut_off, hard_cut_off);
        for (const Structure &structure : structures) {
            double build = 1e30, best[3] = {1e30, 1e30, 1e30};
            long long bytes = 0;
            for (int repeat = 0; repeat < sizes.repeats; ++repeat) {
                const FlaggedScene scene(c.mesh, structure.flags, structure.quality);
                build = std::min(build, scene.build_seconds());
                bytes = scene.bytes();
                const RTCScene s = scene.scene();
                best[0] = std::min(best[0], embree_seconds(s, s, look[0], 1) / look[0].size());
                best[1] = std::min(best[1], embree_seconds(s, s, cut_off[0], 1) / cut_off[0].size());
                best[2] = std::min(best[2], embree_seconds(s, s, cut_off[0], 1, nullptr, false, Replay::nearest) /
                                                cut_off[0].size());
            }
            std::printf("| %s (%zu triangles) | %s | %.3f | %.1f | %.1f | %.1f | %.1f |\n", c.name.c_str(),
                        c.mesh.triangles.size(), structure.name, build, bytes / 1048576.0, best[0] * 1e9,
                        best[1] * 1e9, best[2] * 1e9);
            std::fflush(stdout);
        }
    }
    std::printf("\n");
}

// Each size in its own process, so that its peak memory is its own.
void scale_table(const Renderer &renderer, const Sizes &sizes)
{
    std::printf("## Scale (one thread, %dx%d)\n\n", sizes.width, sizes.height);
    std::printf("| triangles | probe rays | render (ns per probe ray) | Embree (ns per probe ray) | peak memory (MiB) |\n");
    std::printf("|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (std::size_t target : sizes.scale_scenes) {
        int channel[2];
        if (pipe(channel) != 0)
            return;
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            const Mesh mesh = make_bench_scene(target);
            const RayTracer tracer(mesh);
            const Camera camera = framing_camera(mesh, float(sizes.width) / sizes.height, UpAxis::y);
            std::vector<std::vector<ProbeRay>> logs;
            renderer.render(tracer, camera, sizes.width, sizes.height, 1, &logs);
            const FrameStatistics frame = renderer.render(tracer, camera, sizes.width, sizes.height, 1, nullptr);
            const double embree = embree_seconds(tracer, logs[0], 1);
            const std::size_t logged = logs[0].size();
            logs.clear();
            char line[256];
            const int length = std::snprintf(line, sizeof line, "| %zu | %llu | %.1f | %.1f |", mesh.triangles.size(),
                                             static_cast<unsigned long long>(frame.probe_rays),
                                             frame.seconds / frame.probe_rays * 1e9, embree / logged * 1e9);
            if (write(channel[1], line, static_cast<std::size_t>(length)) != length)
                _exit(1);
            _exit(0);
        }
        close(channel[1]);
        char line[256] = {};
        const ssize_t got = read(channel[0], line, sizeof line - 1);
        close(channel[0]);
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("| %zu | failed | | | |\n", target);
            continue;
        }
        std::printf("%s %.0f |\n", line, usage.ru_maxrss / 1024.0);
        std::fflush(stdout);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-scene") == 0) {
        const long long triangles = std::atoll(argv[2]);
        if (triangles < 100 || triangles > 100000000) {
            std::fprintf(stderr, "render_throughput_bench: --write-scene takes 100 to 100000000 triangles, not %s\n",
                         argv[2]);
            return 2;
        }
        try {
            write_obj(make_bench_scene(static_cast<std::size_t>(triangles)), argv[3]);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "render_throughput_bench: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-bake-scene") == 0) {
        try {
            write_obj(make_bake_scene(), argv[2], true);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "render_throughput_bench: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const bool structures_only = argc > 1 && std::strcmp(argv[1], "--structures") == 0;
    const Sizes sizes = smoke ? Sizes{32, 18, 5000, {2000, 5000}, {5000}, 1}
                              : Sizes{480, 270, 1000000, {10000, 100000, 1000000}, {100000, 1000000}, 5};
    try {
        const ShaderDeclaration declaration = read_shader_declaration(UMBREX_DECLARATION);
        const LoadedShader shader = load_shader(UMBREX_LIBRARY, declaration);
        const Renderer renderer{shader, declaration};
        std::printf("Machine: %s. The shader's defaults (32 samples); rates are the best of %d runs.\n\n",
                    machine_description().c_str(), sizes.repeats);
        if (!structures_only) {
            // The scale runs first, while this process is small: each runs
            // in a child that starts as a copy of it.
            scale_table(renderer, sizes);
            throughput_table(renderer, sizes);
        }
        structure_table(renderer, sizes);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "render_throughput_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
