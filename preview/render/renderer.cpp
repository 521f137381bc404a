#include "preview/render/renderer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "preview/shading/sampler.h"
#include "preview/shading/surface_normals.h"

namespace {

constexpr int tile_size = 16;

struct TileQueue {
    int columns, rows;
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    int count() const { return columns * rows; }
};

class FrameWorker {
public:
    FrameWorker(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                const Camera &camera, const RenderSettings &settings, Image &image, int index)
        : shader_(shader), frame_(frame), mesh_(frame.tracer->mesh()),
          rays_(camera, mesh_.origin, settings.up, settings.width, settings.height), settings_(settings),
          image_(image), key_(seed_key(settings.seed)), probes_(*frame.tracer)
    {
        s_.frame = &frame;
        s_.probes = &probes_;
        if (settings.probe_logs)
            s_.probe_log = &(*settings.probe_logs)[static_cast<std::size_t>(index)];
        s_.state.child = &s_.child;
        s_.state.shader = &shader_record;
        s_.cancel = settings.cancel;
    }

    void run(TileQueue &tiles)
    {
        for (int tile; !cancelled() && (tile = tiles.next.fetch_add(1)) < tiles.count();) {
            const int x0 = tile % tiles.columns * tile_size;
            const int y0 = tile / tiles.columns * tile_size;
            if (render_tile(x0, y0, std::min(x0 + tile_size, settings_.width),
                            std::min(y0 + tile_size, settings_.height)))
                tiles.done.fetch_add(1);
        }
    }

    std::uint64_t probe_rays() const { return s_.probe_rays; }

    bool cancelled() const { return settings_.cancel && settings_.cancel->load(std::memory_order_relaxed); }

private:
    // One camera ray of a pixel: which, and where it goes.
    struct CameraRay {
        int x, y, index;
        Vec3 direction;
    };

    // The tile's camera rays, pixel by pixel, traced a bundle at a time (a
    // row of a full tile when there is one ray per pixel), then shaded in
    // turn; each pixel is the mean of its rays' colours, summed in order.
    // A cancelled frame stops after the bundle in progress (whose shading
    // calls end at their next sample), so that a frame of one pixel with
    // many rays stops as soon as a large one: the tile is left unwritten and
    // false returned.
    bool render_tile(int x0, int y0, int x1, int y1)
    {
        const int rays = settings_.camera_rays;
        miColor sums[tile_size * tile_size] = {};
        CameraRay bundle[RayTracer::max_bundle];
        std::size_t count = 0;
        // Checked after the shading, so that a call cut short is never kept.
        const auto trace_and_shade = [&] {
            Vec3 directions[RayTracer::max_bundle];
            RayHit hits[RayTracer::max_bundle];
            for (std::size_t i = 0; i < count; ++i)
                directions[i] = bundle[i].direction;
            frame_.tracer->intersect_bundle(rays_.eye(), directions, count, hits);
            for (std::size_t i = 0; i < count; ++i) {
                const CameraRay &r = bundle[i];
                const miColor c = shade(r.direction, hits[i],
                                        hash_seed(r.x, r.y, static_cast<std::uint32_t>(r.index)) ^ key_);
                miColor &sum = sums[(r.y - y0) * tile_size + (r.x - x0)];
                sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
            }
            count = 0;
            return !cancelled();
        };
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const SobolScramble jitter =  // this pixel's, when its rays are jittered
                    rays > 1 ? sobol_scramble(hash_seed(x, y, 0xCA3E7Au) ^ key_) : SobolScramble{};
                for (int ray = 0; ray < rays; ++ray) {
                    double offset[2] = {0.5, 0.5};
                    if (rays > 1)
                        sobol_point(static_cast<std::uint32_t>(ray), jitter, offset);
                    bundle[count++] = {x, y, ray, rays_.direction(x + offset[0], y + offset[1])};
                    if (count == RayTracer::max_bundle && !trace_and_shade())
                        return false;
                }
            }
        }
        if (!trace_and_shade())
            return false;
        const float n = static_cast<float>(rays);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                const miColor &sum = sums[(y - y0) * tile_size + (x - x0)];
                image_.pixels[static_cast<std::size_t>(y) * settings_.width + x] = {sum.r / n, sum.g / n, sum.b / n,
                                                                                    sum.a / n};
            }
        }
        return true;
    }

    // The shader's colour where a camera ray met the scene.
    miColor shade(Vec3 direction, const RayHit &hit, std::uint32_t seed)
    {
        if (hit.triangle == no_triangle)
            return {0.0f, 0.0f, 0.0f, 0.0f};

        // The point and the normal from the triangle itself.
        const auto &corners = mesh_.triangles[hit.triangle];
        const Vec3 a = mesh_.positions[corners[0]];
        const Vec3 point = a + (mesh_.positions[corners[1]] - a) * hit.u + (mesh_.positions[corners[2]] - a) * hit.v;
        const auto &normals = mesh_.corner_normals[hit.triangle];
        const float w = 1.0f - hit.u - hit.v;
        const SurfaceNormals n = facing_normals(
            hit.geometric_normal, normals[0] * w + normals[1] * hit.u + normals[2] * hit.v, direction);

        s_.state.type = 0;  // an eye ray
        s_.state.point = {point.x, point.y, point.z};
        s_.state.normal = {n.shading.x, n.shading.y, n.shading.z};
        s_.state.dist = length(point - rays_.eye());
        s_.child = miState{};
        s_.triangle = hit.triangle;
        s_.geometric_normal = n.geometric;
        s_.shaded_point = point;
        s_.start_above = offset_from_surface(point, n.geometric);
        s_.start_below = offset_from_surface(point, -n.geometric);
        s_.falloff_start = 0.0;
        s_.falloff_stop = 0.0;
        s_.probe_reach = probe_reach(0.0, 0.0);
        probes_.start_on(hit.triangle);
        s_.sample_shift = lattice_shift(seed);

        miColor result = {0.0f, 0.0f, 0.0f, 0.0f};
        shader_.shade(&result, &s_.state, reinterpret_cast<Umbrex_params *>(const_cast<unsigned char *>(frame_.record)));
        return result;
    }

    const LoadedShader &shader_;
    const FrameScene &frame_;
    const Mesh &mesh_;
    const CameraRays rays_;
    const RenderSettings &settings_;
    Image &image_;
    const std::uint32_t key_;  // the seed's part of every pixel's hash
    ProbeTracer probes_;
    ShadingState s_{};
};

std::string size_options(int width, int height)
{
    return "--width " + std::to_string(width) + " --height " + std::to_string(height);
}

std::string gibibytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
    return text;
}

void show_progress(const TileQueue &tiles, double elapsed)
{
    const double fraction = static_cast<double>(tiles.done.load()) / tiles.count();
    const int filled = static_cast<int>(fraction * 30.0);
    const double left = fraction > 0.0 ? elapsed / fraction - elapsed : 0.0;
    std::fprintf(stderr, "\r[%-30s] %3d%%  %.1f s elapsed, about %.1f s left ",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 static_cast<int>(fraction * 100.0), elapsed, left);
}

}  // namespace

std::uint64_t frame_memory(int width, int height)
{
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return pixels * 2 * sizeof(miColor);
}

std::uint64_t available_memory()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    while (meminfo >> key >> kibibytes) {
        if (key == "MemAvailable:")
            return kibibytes * 1024;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return static_cast<std::uint64_t>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::string frame_memory_fault(int width, int height, std::uint64_t available)
{
    const std::uint64_t needed = frame_memory(width, height);
    if (needed <= available)
        return {};
    return size_options(width, height) + ": the image needs " + gibibytes(needed) + " of memory, and " +
           gibibytes(available) + " is available";
}

FrameScene make_frame_scene(const RayTracer &tracer, const Environment &environment,
                            const ParameterRecord &record, const std::vector<Attachment> &attachments,
                            UpAxis up)
{
    FrameScene frame{&tracer, &environment, static_cast<const unsigned char *>(record.fields()),
                     std::vector<const Attachment *>(record.size() / 4, nullptr), up};
    for (const Attachment &a : attachments)
        frame.attachments[a.parameter->offset / 4] = &a;
    return frame;
}

void check_frame_fits(int width, int height)
{
    const std::string fault = frame_memory_fault(width, height, available_memory());
    if (!fault.empty())
        throw RenderError(fault);
}

Image render_frame(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                   const Camera &camera, const RenderSettings &settings, FrameStatistics &statistics)
{
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };

    if (settings.probe_logs)
        settings.probe_logs->resize(static_cast<std::size_t>(settings.threads));
    Image image;
    image.width = settings.width;
    image.height = settings.height;
    try {
        image.pixels.assign(static_cast<std::size_t>(settings.width) * settings.height, miColor{});
    } catch (const std::bad_alloc &) {
        throw RenderError(size_options(settings.width, settings.height) + ": the image needs " +
                          gibibytes(frame_memory(settings.width, settings.height)) +
                          " of memory, more than this process can have");
    }

    TileQueue tiles{(settings.width + tile_size - 1) / tile_size,
                    (settings.height + tile_size - 1) / tile_size};
    std::vector<FrameWorker> workers;
    workers.reserve(static_cast<std::size_t>(settings.threads));
    for (int i = 0; i < settings.threads; ++i)
        workers.emplace_back(shader, frame, shader_record, camera, settings, image, i);

    // The calling thread is the first worker; a thread that cannot be started
    // leaves its share to the others.
    std::vector<std::thread> threads;
    statistics.threads = 1;
    for (std::size_t i = 1; i < workers.size(); ++i) {
        try {
            threads.emplace_back([&worker = workers[i], &tiles] { worker.run(tiles); });
            ++statistics.threads;
        } catch (const std::system_error &error) {
            statistics.thread_start_fault = error.code().message();
            break;
        }
    }
    std::thread progress;
    if (settings.show_progress) {
        try {
            progress = std::thread([&] {
                while (tiles.done.load() < tiles.count() && !workers[0].cancelled()) {
                    show_progress(tiles, elapsed());
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
        } catch (const std::system_error &) {
            // No progress bar; the frame renders all the same.
        }
    }
    workers[0].run(tiles);
    for (std::thread &thread : threads)
        thread.join();
    if (progress.joinable())
        progress.join();
    if (settings.show_progress) {
        show_progress(tiles, elapsed());
        std::fprintf(stderr, "\n");
    }

    statistics.seconds = elapsed();
    statistics.cancelled = tiles.done.load() < tiles.count();
    for (const FrameWorker &worker : workers)
        statistics.probe_rays += worker.probe_rays();
    return image;
}
