// A mesh's triangles laid out over a texture by one of its UV sets, and
// which triangle covers each sample point of a texel: the rasterisation of a
// texture bake. Texel coordinates run from the texture's left edge (x) and
// top edge (y) in texels, so that texel (i, j) covers [i, i + 1) x [j, j + 1)
// and a UV coordinate (u, v) lies at (u W, (1 - v) H).
//
// A point on the edge two triangles share belongs to exactly one of them:
// each edge's side is worked out the same way from both triangles, and a
// point on it goes to the triangle it would fall in if moved a hair to the
// left (and a hair's hair up). So no texel point of a seamless island is
// shaded twice or left out, and a point that two triangles both cover is an
// overlap of the layout itself: a mirrored or stacked island.
#ifndef UMBREX_PREVIEW_UV_LAYOUT_H
#define UMBREX_PREVIEW_UV_LAYOUT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "preview/scene/mesh.h"

struct TexelPoint {
    double x, y;
};

// Points that no triangle covers.
constexpr std::uint32_t uncovered = 0xFFFFFFFFu;

class UVLayout {
public:
    static constexpr int tile_size = 16;  // texels along each side of a tile

    // Lays out the mesh's UV set `set` (which it must have) over a texture of
    // width x height texels. Throws RenderError when the triangles would take
    // more memory to sort into tiles than is available.
    UVLayout(const Mesh &mesh, std::size_t set, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int columns() const { return columns_; }  // of tiles
    int tile_count() const { return columns_ * rows_; }
    bool empty() const { return placed_.empty(); }  // no triangle lies over the texture

    // Triangles left out: without area in the set (or with coordinates that
    // are not finite); and those that reach past the texture's edges, whose
    // parts outside it are not baked.
    std::size_t triangles_without_area() const { return without_area_; }
    std::size_t triangles_reaching_out() const { return reaching_out_; }

    // The texels of a tile, [x0, x1) x [y0, y1).
    struct Rect {
        int x0, y0, x1, y1;
    };
    Rect tile(int index) const;

    // Which triangle of the mesh covers each point, written into `owners`
    // (one per point: the points of each texel of the tile in turn, row by
    // row, `per_texel` of them): the first in the mesh's order, or
    // uncovered; and into `shared` whether another triangle covers it too.
    void cover(int tile, const TexelPoint *points, int per_texel, std::uint32_t *owners, bool *shared) const;

    // The barycentric weights of the mesh triangle's three corners at a
    // point it covers.
    std::array<double, 3> weights(std::uint32_t triangle, TexelPoint p) const;

private:
    struct Placed {
        std::uint32_t triangle;
        std::array<TexelPoint, 3> corners;  // turned so that the area is positive
        std::array<int, 3> corner_of;       // which of the mesh triangle's corners each is
        double twice_area;
        Rect texels;  // that the triangle's bounds touch, within the texture
    };

    bool covers(const Placed &t, TexelPoint p) const;

    int width_, height_, columns_, rows_;
    std::vector<Placed> placed_;
    std::vector<std::uint32_t> placed_of_triangle_;  // index into placed_, or uncovered
    std::vector<std::size_t> tile_start_;            // each tile's triangles in tile_triangles_
    std::vector<std::uint32_t> tile_triangles_;      // indices into placed_, ascending per tile
    std::size_t without_area_ = 0, reaching_out_ = 0;
};

#endif
