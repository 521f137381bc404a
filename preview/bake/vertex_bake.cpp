#include "preview/bake/vertex_bake.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "preview/shading/sampler.h"

namespace {

constexpr std::uint32_t vertices_per_tile = 64;

// The faces around each vertex: the triangle and which of its corners.
struct Corner {
    std::uint32_t triangle;
    int corner;
};

struct VertexCorners {
    std::vector<std::size_t> start;  // each vertex's corners in `corners`
    std::vector<Corner> corners;

    explicit VertexCorners(const Mesh &mesh) : start(mesh.positions.size() + 1, 0)
    {
        for (const auto &t : mesh.triangles) {
            for (const std::uint32_t v : t)
                ++start[v + 1];
        }
        for (std::size_t i = 1; i < start.size(); ++i)
            start[i] += start[i - 1];
        corners.resize(start.back());
        std::vector<std::size_t> next(start.begin(), start.end() - 1);
        for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t) {
            for (int c = 0; c < 3; ++c)
                corners[next[mesh.triangles[t][static_cast<std::size_t>(c)]]++] = {t, c};
        }
    }
};

// The angle of the triangle at one corner.
double corner_angle(const Mesh &mesh, const Corner &c)
{
    const auto &t = mesh.triangles[c.triangle];
    const DVec3 p = to_double(mesh.positions[t[static_cast<std::size_t>(c.corner)]]);
    const DVec3 a = normalized(to_double(mesh.positions[t[static_cast<std::size_t>((c.corner + 1) % 3)]]) - p);
    const DVec3 b = normalized(to_double(mesh.positions[t[static_cast<std::size_t>((c.corner + 2) % 3)]]) - p);
    return std::atan2(length(cross(a, b)), dot(a, b));
}

class VertexWorker {
public:
    VertexWorker(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                 const Mesh &mesh, const VertexCorners &around, const BakeSurface &surface,
                 const VertexBakeSettings &settings, std::vector<miColor> &colours)
        : mesh_(mesh), around_(around), surface_(surface), settings_(settings), colours_(colours),
          key_(seed_key(settings.seed)), shader_(shader, frame, shader_record)
    {
    }

    void bake_tile(int tile)
    {
        const auto first = static_cast<std::uint32_t>(tile) * vertices_per_tile;
        const auto last = std::min<std::size_t>(first + vertices_per_tile, mesh_.positions.size());
        for (std::uint32_t v = first; v < last; ++v)
            colours_[v] = bake(v);
    }

    std::uint64_t probe_rays() const { return shader_.probe_rays(); }

    VertexBakeStatistics statistics;  // this worker's counts but for probes

private:
    // The angle-weighted mean, over the faces around the vertex, of the mean
    // of each face's points.
    miColor bake(std::uint32_t vertex)
    {
        const int n = settings_.points;
        miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
        double weights = 0.0;
        for (std::size_t i = around_.start[vertex]; i < around_.start[vertex + 1]; ++i) {
            const Corner &c = around_.corners[i];
            const SobolScramble jitter =
                n > 1 ? sobol_scramble(hash_seed(vertex, c.triangle, 0xCA3E7Au) ^ key_) : SobolScramble{};
            miColor face = {0.0f, 0.0f, 0.0f, 0.0f};
            int shaded = 0;
            for (int k = 0; k < n; ++k) {
                // A point of the unit triangle, scaled into the face's corner.
                double s[2] = {1.0 / 3.0, 1.0 / 3.0};
                if (n > 1) {
                    sobol_point(static_cast<std::uint32_t>(k), jitter, s);
                    if (s[0] + s[1] > 1.0)
                        s[0] = 1.0 - s[0], s[1] = 1.0 - s[1];
                }
                std::array<double, 3> w;
                w[static_cast<std::size_t>(c.corner)] = 1.0 - vertex_corner_reach * (s[0] + s[1]);
                w[static_cast<std::size_t>((c.corner + 1) % 3)] = vertex_corner_reach * s[0];
                w[static_cast<std::size_t>((c.corner + 2) % 3)] = vertex_corner_reach * s[1];
                SurfacePoint at;
                if (!surface_.find(c.triangle, w, at))
                    continue;
                const std::uint32_t seed = hash_seed(vertex, c.triangle, static_cast<std::uint32_t>(k)) ^ key_;
                const miColor r = shader_.shade(at, seed);
                face = {face.r + r.r, face.g + r.g, face.b + r.b, face.a + r.a};
                ++shaded;
            }
            statistics.points_shaded += static_cast<std::uint64_t>(shaded);
            if (shaded == 0)
                continue;
            const double angle = std::max(corner_angle(mesh_, c), 1e-9);  // a face without area counts a little
            const auto weight = static_cast<float>(angle / shaded);
            sum = {sum.r + face.r * weight, sum.g + face.g * weight, sum.b + face.b * weight, sum.a + face.a * weight};
            weights += angle;
        }
        if (!(weights > 0.0)) {
            ++statistics.vertices_missed;
            return {0.0f, 0.0f, 0.0f, 0.0f};
        }
        const auto scale = static_cast<float>(1.0 / weights);
        return {sum.r * scale, sum.g * scale, sum.b * scale, sum.a * scale};
    }

    const Mesh &mesh_;
    const VertexCorners &around_;
    const BakeSurface &surface_;
    const VertexBakeSettings &settings_;
    std::vector<miColor> &colours_;
    const std::uint32_t key_;
    PointShader shader_;
};

}  // namespace

std::vector<miColor> bake_vertices(const LoadedShader &shader, const FrameScene &frame,
                                   miShaderRecord &shader_record, const Mesh &mesh, const BakeSurface &surface,
                                   const VertexBakeSettings &settings, VertexBakeStatistics &statistics)
{
    const VertexCorners around(mesh);
    std::vector<miColor> colours(mesh.positions.size(), miColor{});
    const auto tiles = static_cast<int>((mesh.positions.size() + vertices_per_tile - 1) / vertices_per_tile);
    statistics = {};
    const auto workers =
        bake_tiles<VertexWorker>(tiles, settings, statistics, [&](std::deque<VertexWorker> &made, int) {
            made.emplace_back(shader, frame, shader_record, mesh, around, surface, settings, colours);
        });
    for (const VertexWorker &worker : workers) {
        statistics.points_shaded += worker.statistics.points_shaded;
        statistics.vertices_missed += worker.statistics.vertices_missed;
    }
    return colours;
}
