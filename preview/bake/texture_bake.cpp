#include "preview/bake/texture_bake.h"

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

#include "preview/bake/texel_padding.h"
#include "preview/shading/sampler.h"

namespace {

class TexelWorker {
public:
    TexelWorker(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                const UVLayout &layout, const BakeSurface &surface, const TextureBakeSettings &settings,
                Image &image, std::vector<TexelState> &states)
        : layout_(layout), surface_(surface), settings_(settings), image_(image), states_(states),
          key_(seed_key(settings.seed)), shader_(shader, frame, shader_record)
    {
        const std::size_t points = static_cast<std::size_t>(UVLayout::tile_size * UVLayout::tile_size) *
                                   static_cast<std::size_t>(settings.points);
        points_.resize(points);
        owners_.resize(points);
        shared_ = std::make_unique<bool[]>(points);
    }

    void bake_tile(int tile)
    {
        const UVLayout::Rect r = layout_.tile(tile);
        const int n = settings_.points;
        // Each texel's points: its centre, or jittered as a pixel's camera rays are.
        std::size_t k = 0;
        for (int y = r.y0; y < r.y1; ++y) {
            for (int x = r.x0; x < r.x1; ++x) {
                const SobolScramble jitter =
                    n > 1 ? sobol_scramble(hash_seed(x, y, 0xCA3E7Au) ^ key_) : SobolScramble{};
                for (int i = 0; i < n; ++i, ++k) {
                    double offset[2] = {0.5, 0.5};
                    if (n > 1)
                        sobol_point(static_cast<std::uint32_t>(i), jitter, offset);
                    points_[k] = {x + offset[0], y + offset[1]};
                }
            }
        }
        layout_.cover(tile, points_.data(), n, owners_.data(), shared_.get());

        k = 0;
        for (int y = r.y0; y < r.y1; ++y) {
            for (int x = r.x0; x < r.x1; ++x) {
                miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
                int covered = 0, shaded = 0;
                for (int i = 0; i < n; ++i, ++k) {
                    const std::uint32_t triangle = owners_[k];
                    if (triangle == uncovered)
                        continue;
                    ++covered;
                    statistics.points_shared += shared_[k] ? 1 : 0;
                    SurfacePoint at;
                    if (!surface_.find(triangle, layout_.weights(triangle, points_[k]), at))
                        continue;
                    const miColor c = shader_.shade(at, hash_seed(x, y, static_cast<std::uint32_t>(i)) ^ key_);
                    sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
                    ++shaded;
                }
                statistics.points_covered += static_cast<std::uint64_t>(covered);
                const std::size_t texel = static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.width) + x;
                if (shaded > 0) {
                    const float scale = 1.0f / static_cast<float>(shaded);
                    image_.pixels[texel] = {sum.r * scale, sum.g * scale, sum.b * scale, sum.a * scale};
                    states_[texel] = TexelState::baked;
                    ++statistics.texels_baked;
                } else if (covered > 0) {
                    states_[texel] = TexelState::missed;
                    ++statistics.texels_missed;
                }
            }
        }
    }

    std::uint64_t probe_rays() const { return shader_.probe_rays(); }

    TextureBakeStatistics statistics;  // this worker's counts but for probes

private:
    const UVLayout &layout_;
    const BakeSurface &surface_;
    const TextureBakeSettings &settings_;
    Image &image_;
    std::vector<TexelState> &states_;
    const std::uint32_t key_;  // the seed's part of every texel's hash
    PointShader shader_;
    std::vector<TexelPoint> points_;
    std::vector<std::uint32_t> owners_;
    std::unique_ptr<bool[]> shared_;
};

}  // namespace

Image bake_texture(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                   const UVLayout &layout, const BakeSurface &surface, const TextureBakeSettings &settings,
                   TextureBakeStatistics &statistics)
{
    Image image;
    image.width = layout.width();
    image.height = layout.height();
    const std::size_t texels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    image.pixels.assign(texels, miColor{});
    std::vector<TexelState> states(texels, TexelState::empty);

    statistics = {};
    const auto workers = bake_tiles<TexelWorker>(
        layout.tile_count(), settings, statistics, [&](std::deque<TexelWorker> &made, int) {
            made.emplace_back(shader, frame, shader_record, layout, surface, settings, image, states);
        });
    for (const TexelWorker &worker : workers) {
        statistics.texels_baked += worker.statistics.texels_baked;
        statistics.texels_missed += worker.statistics.texels_missed;
        statistics.points_covered += worker.statistics.points_covered;
        statistics.points_shared += worker.statistics.points_shared;
    }
    const auto start = std::chrono::steady_clock::now();
    pad_texels(image, states, settings.padding);
    statistics.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return image;
}
