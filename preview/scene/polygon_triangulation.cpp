#include "preview/scene/polygon_triangulation.h"

#include <cmath>

namespace {

struct Point2 {
    double x, y;
};

bool operator==(Point2 a, Point2 b) { return a.x == b.x && a.y == b.y; }

// Twice the signed area of the triangle a, b, c: positive when it turns left.
double turn(Point2 a, Point2 b, Point2 c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Inside or on the edge of the left-turning triangle a, b, c.
bool inside(Point2 p, Point2 a, Point2 b, Point2 c)
{
    return turn(a, b, p) >= 0.0 && turn(b, c, p) >= 0.0 && turn(c, a, p) >= 0.0;
}

// The corners seen along the Newell normal, so that the polygon turns left.
std::vector<Point2> project(const std::vector<DVec3> &corners, DVec3 normal)
{
    const double ax = std::abs(normal.x), ay = std::abs(normal.y), az = std::abs(normal.z);
    std::vector<Point2> points;
    points.reserve(corners.size());
    for (const DVec3 &c : corners) {
        if (az >= ax && az >= ay)
            points.push_back(normal.z > 0.0 ? Point2{c.x, c.y} : Point2{c.y, c.x});
        else if (ax >= ay)
            points.push_back(normal.x > 0.0 ? Point2{c.y, c.z} : Point2{c.z, c.y});
        else
            points.push_back(normal.y > 0.0 ? Point2{c.z, c.x} : Point2{c.x, c.z});
    }
    return points;
}

// The polygon's area vector (Newell's normal), summed over a fan from the
// first corner: for a triangle, its one cross product.
DVec3 newell_normal(const std::vector<DVec3> &corners)
{
    DVec3 n;
    for (std::size_t i = 1; i + 1 < corners.size(); ++i)
        n = n + cross(corners[i] - corners[0], corners[i + 1] - corners[0]);
    return n;
}

// An ear: a left turn at `at` with no other remaining corner in its triangle.
// Corners that coincide with the ear's own (the two ends of a bridge edge)
// do not block it.
bool is_ear(const std::vector<Point2> &points, const std::vector<std::size_t> &ring, std::size_t at)
{
    const std::size_t n = ring.size();
    const Point2 a = points[ring[(at + n - 1) % n]], b = points[ring[at]], c = points[ring[(at + 1) % n]];
    if (!(turn(a, b, c) > 0.0))
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        const Point2 p = points[ring[i]];
        if (p == a || p == b || p == c)
            continue;
        if (inside(p, a, b, c))
            return false;
    }
    return true;
}

}  // namespace

std::vector<CornerTriangle> triangulate_polygon(const std::vector<DVec3> &corners)
{
    const DVec3 normal = newell_normal(corners);
    if (corners.size() < 3 || !(length(normal) > 0.0) || !is_finite(normal))
        return {};
    if (corners.size() == 3)
        return {{0, 1, 2}};

    const std::vector<Point2> points = project(corners, normal);
    std::vector<std::size_t> ring(corners.size());
    for (std::size_t i = 0; i < ring.size(); ++i)
        ring[i] = i;

    std::vector<CornerTriangle> triangles;
    // Walk round the ring cutting ears; a whole round without a cut means the
    // edges cross.
    std::size_t at = 0, since_cut = 0;
    while (ring.size() > 3 && since_cut < ring.size()) {
        const std::size_t n = ring.size();
        const std::size_t before = ring[(at + n - 1) % n], corner = ring[at], after = ring[(at + 1) % n];
        const double t = turn(points[before], points[corner], points[after]);
        if (t == 0.0 || is_ear(points, ring, at)) {
            if (t != 0.0)
                triangles.push_back({before, corner, after});
            ring.erase(ring.begin() + static_cast<std::ptrdiff_t>(at));
            at = (at + n - 2) % (n - 1);  // look again at the corner before
            since_cut = 0;
        } else {
            at = (at + 1) % n;
            ++since_cut;
        }
    }
    if (ring.size() > 3)
        return {};
    if (turn(points[ring[0]], points[ring[1]], points[ring[2]]) > 0.0)
        triangles.push_back({ring[0], ring[1], ring[2]});
    return triangles;
}
