#include "preview/bake/uv_layout.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "preview/render/renderer.h"

namespace {

// Twice the signed area of (a, b, p): positive when p lies to the left of
// a -> b in texel coordinates. Worked out from the edge's endpoints in one
// fixed order, whichever way round it is given, so that the two triangles
// sharing an edge get the same value with opposite signs.
double edge_side(TexelPoint a, TexelPoint b, TexelPoint p)
{
    const bool swapped = b.x < a.x || (b.x == a.x && b.y < a.y);
    if (swapped)
        std::swap(a, b);
    const double side = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    return swapped ? -side : side;
}

// Whether a point on the edge a -> b belongs to the triangle on its
// positive side: as if it were moved a hair in -x and a hair's hair in +y.
bool owns_edge(TexelPoint a, TexelPoint b)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    return dy > 0.0 || (dy == 0.0 && dx > 0.0);
}

int clamp_texel(double coordinate, int size)
{
    return static_cast<int>(std::clamp(coordinate, 0.0, static_cast<double>(size)));
}

}  // namespace

UVLayout::UVLayout(const Mesh &mesh, std::size_t set, int width, int height)
    : width_(width), height_(height), columns_((width + tile_size - 1) / tile_size),
      rows_((height + tile_size - 1) / tile_size), placed_of_triangle_(mesh.triangles.size(), uncovered)
{
    const UVSet &uvs = mesh.uv_sets.at(set);
    for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t) {
        Placed p{t, {}, {0, 1, 2}, 0.0, {}};
        bool finite = true;
        for (int c = 0; c < 3; ++c) {
            const TexCoord uv = uvs[t][static_cast<std::size_t>(c)];
            p.corners[static_cast<std::size_t>(c)] = {static_cast<double>(uv.u) * width,
                                                      (1.0 - static_cast<double>(uv.v)) * height};
            finite = finite && std::isfinite(p.corners[c].x) && std::isfinite(p.corners[c].y);
        }
        p.twice_area = finite ? edge_side(p.corners[0], p.corners[1], p.corners[2]) : 0.0;
        if (!(p.twice_area != 0.0 && std::isfinite(p.twice_area))) {
            ++without_area_;
            continue;
        }
        if (p.twice_area < 0.0) {
            std::swap(p.corners[1], p.corners[2]);
            std::swap(p.corner_of[1], p.corner_of[2]);
            p.twice_area = -p.twice_area;
        }
        double low_x = p.corners[0].x, high_x = low_x, low_y = p.corners[0].y, high_y = low_y;
        for (const TexelPoint &c : p.corners) {
            low_x = std::min(low_x, c.x), high_x = std::max(high_x, c.x);
            low_y = std::min(low_y, c.y), high_y = std::max(high_y, c.y);
        }
        if (low_x < 0.0 || low_y < 0.0 || high_x > width || high_y > height)
            ++reaching_out_;
        p.texels = {clamp_texel(std::floor(low_x), width), clamp_texel(std::floor(low_y), height),
                    clamp_texel(std::ceil(high_x), width), clamp_texel(std::ceil(high_y), height)};
        if (p.texels.x0 >= p.texels.x1 || p.texels.y0 >= p.texels.y1)
            continue;  // wholly outside the texture
        placed_of_triangle_[t] = static_cast<std::uint32_t>(placed_.size());
        placed_.push_back(p);
    }

    // Each tile's triangles, in the mesh's order: counted, then filled in.
    tile_start_.assign(static_cast<std::size_t>(tile_count()) + 1, 0);
    const auto for_each_tile = [&](const Placed &p, auto &&visit) {
        for (int ty = p.texels.y0 / tile_size; ty <= (p.texels.y1 - 1) / tile_size; ++ty) {
            for (int tx = p.texels.x0 / tile_size; tx <= (p.texels.x1 - 1) / tile_size; ++tx)
                visit(static_cast<std::size_t>(ty) * static_cast<std::size_t>(columns_) + static_cast<std::size_t>(tx));
        }
    };
    // The places are counted from the triangles' bounds first: as many as
    // memory cannot hold are refused before they are visited one by one.
    std::uint64_t entries = 0;
    for (const Placed &p : placed_) {
        entries += std::uint64_t((p.texels.x1 - 1) / tile_size - p.texels.x0 / tile_size + 1) *
                   std::uint64_t((p.texels.y1 - 1) / tile_size - p.texels.y0 / tile_size + 1);
    }
    check_memory(entries * sizeof(std::uint32_t),
                 "UV set " + std::to_string(set + 1) + ": sorting its triangles into the texture's tiles (" +
                     std::to_string(entries) + " places)");
    for (const Placed &p : placed_)
        for_each_tile(p, [&](std::size_t tile) { ++tile_start_[tile + 1]; });
    for (std::size_t i = 1; i < tile_start_.size(); ++i)
        tile_start_[i] += tile_start_[i - 1];
    tile_triangles_.resize(entries);
    std::vector<std::size_t> next(tile_start_.begin(), tile_start_.end() - 1);
    for (std::uint32_t i = 0; i < placed_.size(); ++i)
        for_each_tile(placed_[i], [&](std::size_t tile) { tile_triangles_[next[tile]++] = i; });
}

UVLayout::Rect UVLayout::tile(int index) const
{
    const int x0 = index % columns_ * tile_size, y0 = index / columns_ * tile_size;
    return {x0, y0, std::min(x0 + tile_size, width_), std::min(y0 + tile_size, height_)};
}

bool UVLayout::covers(const Placed &t, TexelPoint p) const
{
    for (int k = 0; k < 3; ++k) {
        const TexelPoint a = t.corners[static_cast<std::size_t>(k)];
        const TexelPoint b = t.corners[static_cast<std::size_t>((k + 1) % 3)];
        const double side = edge_side(a, b, p);
        if (side < 0.0 || (side == 0.0 && !owns_edge(a, b)))
            return false;
    }
    return true;
}

void UVLayout::cover(int tile_index, const TexelPoint *points, int per_texel, std::uint32_t *owners,
                     bool *shared) const
{
    const Rect r = tile(tile_index);
    const int row = r.x1 - r.x0;
    const std::size_t count = static_cast<std::size_t>(row) * static_cast<std::size_t>(r.y1 - r.y0) * per_texel;
    std::fill(owners, owners + count, uncovered);
    std::fill(shared, shared + count, false);
    const auto tile_at = static_cast<std::size_t>(tile_index);
    for (std::size_t i = tile_start_[tile_at]; i < tile_start_[tile_at + 1]; ++i) {
        const Placed &t = placed_[tile_triangles_[i]];
        for (int y = std::max(r.y0, t.texels.y0); y < std::min(r.y1, t.texels.y1); ++y) {
            for (int x = std::max(r.x0, t.texels.x0); x < std::min(r.x1, t.texels.x1); ++x) {
                const std::size_t first = (static_cast<std::size_t>(y - r.y0) * row + (x - r.x0)) * per_texel;
                for (std::size_t k = first; k < first + static_cast<std::size_t>(per_texel); ++k) {
                    if (!covers(t, points[k]))
                        continue;
                    if (owners[k] == uncovered)
                        owners[k] = t.triangle;
                    else
                        shared[k] = true;
                }
            }
        }
    }
}

std::array<double, 3> UVLayout::weights(std::uint32_t triangle, TexelPoint p) const
{
    const Placed &t = placed_[placed_of_triangle_[triangle]];
    const auto &c = t.corners;
    const double placed_weights[3] = {edge_side(c[1], c[2], p) / t.twice_area,
                                      edge_side(c[2], c[0], p) / t.twice_area,
                                      edge_side(c[0], c[1], p) / t.twice_area};
    std::array<double, 3> w{};
    for (int k = 0; k < 3; ++k)
        w[static_cast<std::size_t>(t.corner_of[static_cast<std::size_t>(k)])] = placed_weights[k];
    return w;
}
