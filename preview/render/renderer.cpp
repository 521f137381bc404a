#include "preview/render/renderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "preview/shading/sampler.h"

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
        : shader_(shader), frame_(frame), eye_(camera.eye), rays_(camera, settings.width, settings.height),
          settings_(settings), image_(image)
    {
        s_.frame = &frame;
        if (settings.probe_logs)
            s_.probe_log = &(*settings.probe_logs)[static_cast<std::size_t>(index)];
        s_.state.child = &s_.child;
        s_.state.shader = &shader_record;
    }

    void run(TileQueue &tiles)
    {
        for (int tile; (tile = tiles.next.fetch_add(1)) < tiles.count(); tiles.done.fetch_add(1)) {
            const int x0 = tile % tiles.columns * tile_size;
            const int y0 = tile / tiles.columns * tile_size;
            for (int y = y0; y < std::min(y0 + tile_size, settings_.height); ++y) {
                for (int x = x0; x < std::min(x0 + tile_size, settings_.width); ++x)
                    image_.pixels[static_cast<std::size_t>(y) * settings_.width + x] = pixel(x, y);
            }
        }
    }

    std::uint64_t probe_rays() const { return s_.probe_rays; }

private:
    miColor pixel(int x, int y)
    {
        miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
        const int rays = settings_.camera_rays;
        for (int ray = 0; ray < rays; ++ray) {
            double offset[2] = {0.5, 0.5};
            if (rays > 1)
                sobol_point(static_cast<std::uint32_t>(ray), sobol_scramble(hash_seed(x, y, 0xCA3E7Au)), offset);
            const Vec3 direction = rays_.direction(x + offset[0], y + offset[1]);
            const miColor c = shade(direction, hash_seed(x, y, static_cast<std::uint32_t>(ray)));
            sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
        }
        const float n = static_cast<float>(rays);
        return {sum.r / n, sum.g / n, sum.b / n, sum.a / n};
    }

    // The shader's colour where the camera ray meets the scene.
    miColor shade(Vec3 direction, std::uint32_t seed)
    {
        RayHit hit;
        if (!frame_.tracer->intersect(eye_, direction, std::numeric_limits<float>::infinity(), hit))
            return {0.0f, 0.0f, 0.0f, 0.0f};

        const auto &corners = frame_.tracer->mesh().corner_normals[hit.triangle];
        const float w = 1.0f - hit.u - hit.v;
        Vec3 normal = normalized(corners[0] * w + corners[1] * hit.u + corners[2] * hit.v);
        if (dot(normal, direction) > 0.0f)
            normal = -normal;
        Vec3 geometric = hit.geometric_normal;
        if (dot(geometric, direction) > 0.0f)
            geometric = -geometric;
        const Vec3 point = eye_ + direction * hit.distance;

        s_.state.type = 0;  // an eye ray
        s_.state.point = {point.x, point.y, point.z};
        s_.state.normal = {normal.x, normal.y, normal.z};
        s_.state.dist = hit.distance;
        s_.child = miState{};
        s_.geometric_normal = geometric;
        s_.falloff_start = 0.0;
        s_.falloff_stop = 0.0;
        s_.sample_scramble = sobol_scramble(seed);

        miColor result = {0.0f, 0.0f, 0.0f, 0.0f};
        shader_.shade(&result, &s_.state, reinterpret_cast<Umbrex_params *>(const_cast<unsigned char *>(frame_.record)));
        return result;
    }

    const LoadedShader &shader_;
    const FrameScene &frame_;
    const Vec3 eye_;
    const CameraRays rays_;
    const RenderSettings &settings_;
    Image &image_;
    ShadingState s_{};
};

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

FrameScene make_frame_scene(const RayTracer &tracer, const Environment &environment,
                            const ParameterRecord &record, const std::vector<Attachment> &attachments)
{
    FrameScene frame{&tracer, &environment, static_cast<const unsigned char *>(record.fields()),
                     std::vector<const Attachment *>(record.size() / 4, nullptr), 0.0f};
    for (const Attachment &a : attachments)
        frame.attachments[a.parameter->offset / 4] = &a;
    // Far enough off the surface for single precision at the scene's largest
    // coordinate, and no farther.
    const Bounds b = bounds_of(tracer.mesh());
    const float extent = std::max({1.0f, std::abs(b.low.x), std::abs(b.low.y), std::abs(b.low.z),
                                   std::abs(b.high.x), std::abs(b.high.y), std::abs(b.high.z)});
    frame.self_hit_offset = 1e-5f * extent;
    return frame;
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
    image.pixels.assign(static_cast<std::size_t>(settings.width) * settings.height, miColor{});

    TileQueue tiles{(settings.width + tile_size - 1) / tile_size,
                    (settings.height + tile_size - 1) / tile_size};
    std::vector<FrameWorker> workers;
    workers.reserve(static_cast<std::size_t>(settings.threads));
    for (int i = 0; i < settings.threads; ++i)
        workers.emplace_back(shader, frame, shader_record, camera, settings, image, i);
    std::vector<std::thread> threads;
    for (FrameWorker &worker : workers)
        threads.emplace_back([&worker, &tiles] { worker.run(tiles); });

    while (settings.show_progress && tiles.done.load() < tiles.count()) {
        show_progress(tiles, elapsed());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread &thread : threads)
        thread.join();
    if (settings.show_progress) {
        show_progress(tiles, elapsed());
        std::fprintf(stderr, "\n");
    }

    statistics.seconds = elapsed();
    for (const FrameWorker &worker : workers)
        statistics.probe_rays += worker.probe_rays();
    return image;
}
