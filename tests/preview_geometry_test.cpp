// The preview host's geometry in-process: polygons split into triangles, and
// the normals handed to the shader, against hand-worked values.

#include <gtest/gtest.h>

#include "preview/scene/polygon_triangulation.h"
#include "preview/shading/surface_normals.h"

namespace {

double area(const std::vector<DVec3> &corners, const std::vector<CornerTriangle> &triangles)
{
    double sum = 0.0;
    for (const CornerTriangle &t : triangles)
        sum += 0.5 * length(cross(corners[t[1]] - corners[t[0]], corners[t[2]] - corners[t[0]]));
    return sum;
}

TEST(PolygonTriangulation, PolygonsKeepTheirShape)
{
    // An L of area 3 whose reflex corner a fan from the first corner would
    // cut across.
    const std::vector<DVec3> l_shape = {{1, 1, 0}, {1, 2, 0}, {0, 2, 0}, {0, 0, 0}, {2, 0, 0}, {2, 1, 0}};
    const auto l_triangles = triangulate_polygon(l_shape);
    EXPECT_EQ(l_triangles.size(), 4u);
    EXPECT_DOUBLE_EQ(area(l_shape, l_triangles), 3.0);

    // A unit square ring with a hole of side 0.5, written as one face with a
    // doubled bridge edge: area 0.75, the hole left open.
    const std::vector<DVec3> ring = {{0, 0, 0},       {1, 0, 0},       {1, 1, 0},       {0, 1, 0},
                                     {0, 0, 0},       {0.25, 0.25, 0}, {0.25, 0.75, 0}, {0.75, 0.75, 0},
                                     {0.75, 0.25, 0}, {0.25, 0.25, 0}};
    EXPECT_DOUBLE_EQ(area(ring, triangulate_polygon(ring)), 0.75);

    // A corner in the middle of an edge, in the plane x = 2, wound either way.
    const std::vector<DVec3> square = {{2, 0, 0}, {2, 1, 0}, {2, 2, 0}, {2, 2, 2}, {2, 0, 2}};
    EXPECT_DOUBLE_EQ(area(square, triangulate_polygon(square)), 4.0);
    EXPECT_DOUBLE_EQ(area(square, triangulate_polygon({square.rbegin(), square.rend()})), 4.0);

    // No area, or edges that cross so the halves cancel: nothing.
    EXPECT_TRUE(triangulate_polygon({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}).empty());
    EXPECT_TRUE(triangulate_polygon({{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}).empty());
}

TEST(SurfaceNormals, NormalsFaceTheViewerAndStayOnTheSurfacesSide)
{
    const Vec3 down = {0.0f, 0.0f, -1.0f};  // looking down at the plane z = 0

    // A triangle wound away from the viewer, its corners' normals the same way.
    SurfaceNormals n = facing_normals({0.0f, 0.0f, -2.0f}, {0.0f, 0.6f, -0.8f}, down);
    EXPECT_EQ(n.geometric.z, 1.0f);
    EXPECT_FLOAT_EQ(n.shading.y, -0.6f);
    EXPECT_FLOAT_EQ(n.shading.z, 0.8f);

    // No normal to interpolate: the geometric one.
    n = facing_normals({0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, down);
    EXPECT_EQ(n.shading.z, 1.0f);

    // A normal bent almost into the surface, (1, 0, 0.05): the view's mirror
    // image about it would point down into the surface. It is bent back
    // until the mirror image rises 0.01 above it: the half-way vector of the
    // viewer (0, 0, 1) and (sqrt(1 - 0.01^2), 0, 0.01), (0.70356, 0, 0.71063).
    n = facing_normals({0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.05f}, down);
    EXPECT_NEAR(n.shading.x, 0.70356f, 1e-5f);
    EXPECT_EQ(n.shading.y, 0.0f);
    EXPECT_NEAR(n.shading.z, 0.71063f, 1e-5f);

    // Bent less, it is kept as it is.
    n = facing_normals({0.0f, 0.0f, 1.0f}, {0.6f, 0.0f, 0.8f}, down);
    EXPECT_FLOAT_EQ(n.shading.x, 0.6f);
    EXPECT_FLOAT_EQ(n.shading.z, 0.8f);
}

}  // namespace
