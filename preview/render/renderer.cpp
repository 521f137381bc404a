#include "preview/render/renderer.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <deque>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "preview/render/tile_threads.h"
#include "preview/shading/point_shader.h"
#include "preview/shading/sampler.h"
#include "preview/shading/surface_normals.h"

namespace {

constexpr int tile_size = 16;

class FrameWorker {
public:
    FrameWorker(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                const Camera &camera, const RenderSettings &settings, Image &image, int index)
        : frame_(frame), mesh_(frame.tracer->mesh()),
          rays_(camera, mesh_.origin, settings.up, settings.width, settings.height), settings_(settings),
          image_(image), key_(pass_key(settings.seed, settings.pass)),
          shader_(shader, frame, shader_record,
                  settings.probe_logs ? &(*settings.probe_logs)[static_cast<std::size_t>(index)] : nullptr,
                  settings.cancel)
    {
    }

    void render_tile(int tile, int columns)
    {
        const int x0 = tile % columns * tile_size;
        const int y0 = tile / columns * tile_size;
        if (!render_tile(x0, y0, std::min(x0 + tile_size, settings_.width), std::min(y0 + tile_size, settings_.height)))
            stopped_ = true;
    }

    std::uint64_t probe_rays() const { return shader_.probe_rays(); }

    // Whether the frame was cancelled within one of this worker's tiles.
    bool stopped() const { return stopped_; }

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
            return !(settings_.cancel && settings_.cancel->load(std::memory_order_relaxed));
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
        return shader_.shade({hit.triangle, point, n, length(point - rays_.eye())}, seed);
    }

    const FrameScene &frame_;
    const Mesh &mesh_;
    const CameraRays rays_;
    const RenderSettings &settings_;
    Image &image_;
    const std::uint32_t key_;  // the seed's and the pass's part of every pixel's hash
    PointShader shader_;
    bool stopped_ = false;
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

}  // namespace

std::uint64_t frame_memory(int width, int height)
{
    const auto pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return pixels * 2 * sizeof(miColor);
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

std::string frame_memory_fault(int width, int height, std::uint64_t available)
{
    const std::uint64_t needed = frame_memory(width, height);
    if (needed <= available)
        return {};
    return size_options(width, height) + ": the image needs " + gibibytes(needed) + " of memory, and " +
           gibibytes(available) + " is available";
}

void check_memory(std::uint64_t needed, const std::string &what)
{
    const std::uint64_t available = available_memory();
    if (needed > available)
        throw RenderError(what + " needs " + gibibytes(needed) + " of memory, and " + gibibytes(available) +
                          " is available");
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

    const int columns = (settings.width + tile_size - 1) / tile_size;
    const int rows = (settings.height + tile_size - 1) / tile_size;
    std::deque<FrameWorker> workers;
    for (int i = 0; i < settings.threads; ++i)
        workers.emplace_back(shader, frame, shader_record, camera, settings, image, i);
    const TileRun run = run_tiles(columns * rows, settings.threads, settings.show_progress, settings.cancel,
                                  [&](int worker, int tile) {
                                      workers[static_cast<std::size_t>(worker)].render_tile(tile, columns);
                                  });

    statistics.seconds = elapsed();
    statistics.threads = run.threads;
    statistics.thread_start_fault = run.thread_start_fault;
    statistics.cancelled = run.cancelled;
    for (const FrameWorker &worker : workers) {
        statistics.probe_rays += worker.probe_rays();
        statistics.cancelled |= worker.stopped();
    }
    return image;
}
