#include "preview/scene/mesh.h"

#include <algorithm>
#include <limits>

void Mesh::append(const Mesh &other)
{
    const auto shift = static_cast<std::uint32_t>(positions.size());
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    for (const auto &t : other.triangles)
        triangles.push_back({t[0] + shift, t[1] + shift, t[2] + shift});
    corner_normals.insert(corner_normals.end(), other.corner_normals.begin(),
                          other.corner_normals.end());
}

Bounds bounds_of(const Mesh &mesh)
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    Bounds b{{inf, inf, inf}, {-inf, -inf, -inf}};
    for (const Vec3 &p : mesh.positions) {
        b.low = {std::min(b.low.x, p.x), std::min(b.low.y, p.y), std::min(b.low.z, p.z)};
        b.high = {std::max(b.high.x, p.x), std::max(b.high.y, p.y), std::max(b.high.z, p.z)};
    }
    return b;
}

namespace {

// Adds a triangle with the same normal at every corner.
void add_flat_triangle(Mesh &mesh, Vec3 a, Vec3 b, Vec3 c)
{
    const auto first = static_cast<std::uint32_t>(mesh.positions.size());
    mesh.positions.insert(mesh.positions.end(), {a, b, c});
    mesh.triangles.push_back({first, first + 1, first + 2});
    const Vec3 n = normalized(cross(b - a, c - a));
    mesh.corner_normals.push_back({n, n, n});
}

void add_flat_quad(Mesh &mesh, Vec3 a, Vec3 b, Vec3 c, Vec3 d)
{
    add_flat_triangle(mesh, a, b, c);
    add_flat_triangle(mesh, a, c, d);
}

}  // namespace

Mesh make_ground(float half_size)
{
    Mesh mesh;
    const float h = half_size;
    add_flat_quad(mesh, {-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h});
    return mesh;
}

Mesh make_sphere(Vec3 centre, float radius, int segments, int rings)
{
    constexpr float pi = 3.14159265358979f;
    Mesh mesh;
    std::vector<Vec3> unit;
    for (int ring = 0; ring <= rings; ++ring) {
        const float theta = pi * static_cast<float>(ring) / static_cast<float>(rings);
        for (int segment = 0; segment <= segments; ++segment) {
            const float phi = 2.0f * pi * static_cast<float>(segment) / static_cast<float>(segments);
            unit.push_back({std::sin(theta) * std::cos(phi), std::cos(theta),
                            std::sin(theta) * std::sin(phi)});
        }
    }
    for (const Vec3 &n : unit)
        mesh.positions.push_back(centre + n * radius);
    const int row = segments + 1;
    for (int ring = 0; ring < rings; ++ring) {
        for (int segment = 0; segment < segments; ++segment) {
            const auto a = static_cast<std::uint32_t>(ring * row + segment);
            const auto b = a + 1;
            const auto c = a + static_cast<std::uint32_t>(row);
            const auto d = c + 1;
            // Counter-clockwise seen from outside; the poles' degenerate halves are left out.
            if (ring != 0) {
                mesh.triangles.push_back({a, b, c});
                mesh.corner_normals.push_back({unit[a], unit[b], unit[c]});
            }
            if (ring != rings - 1) {
                mesh.triangles.push_back({b, d, c});
                mesh.corner_normals.push_back({unit[b], unit[d], unit[c]});
            }
        }
    }
    return mesh;
}

Mesh make_box(Vec3 centre, Vec3 half_extent, float turn_about_y)
{
    const float c = std::cos(turn_about_y), s = std::sin(turn_about_y);
    const auto corner = [&](float x, float y, float z) {
        const Vec3 local = {x * half_extent.x, y * half_extent.y, z * half_extent.z};
        return centre + Vec3{local.x * c + local.z * s, local.y, -local.x * s + local.z * c};
    };
    Mesh mesh;
    add_flat_quad(mesh, corner(-1, 1, -1), corner(-1, 1, 1), corner(1, 1, 1), corner(1, 1, -1));      // top
    add_flat_quad(mesh, corner(-1, -1, -1), corner(1, -1, -1), corner(1, -1, 1), corner(-1, -1, 1));  // bottom
    add_flat_quad(mesh, corner(-1, -1, 1), corner(1, -1, 1), corner(1, 1, 1), corner(-1, 1, 1));      // front
    add_flat_quad(mesh, corner(1, -1, -1), corner(-1, -1, -1), corner(-1, 1, -1), corner(1, 1, -1));  // back
    add_flat_quad(mesh, corner(1, -1, 1), corner(1, -1, -1), corner(1, 1, -1), corner(1, 1, 1));      // right
    add_flat_quad(mesh, corner(-1, -1, -1), corner(-1, -1, 1), corner(-1, 1, 1), corner(-1, 1, -1));  // left
    return mesh;
}

Mesh make_default_scene()
{
    Mesh scene = make_ground(30.0f);
    // A turned box with a sphere against one face and a small sphere at the
    // foot of another (each a few thousandths clear of the box), and a slab
    // with a sphere resting on top.
    scene.append(make_box({0.4f, 0.8f, -0.6f}, {0.8f, 0.8f, 0.8f}, 0.5f));
    scene.append(make_sphere({-1.335f, 1.0f, -0.015f}, 1.0f, 96, 48));
    scene.append(make_sphere({0.728f, 0.35f, 0.534f}, 0.35f, 64, 32));
    scene.append(make_box({2.9f, 0.2f, 0.2f}, {0.9f, 0.2f, 1.3f}, -0.3f));
    scene.append(make_sphere({2.9f, 0.95f, 0.2f}, 0.55f, 64, 32));
    return scene;
}
