#include "preview/scene/mesh.h"

#include <algorithm>
#include <cstdio>
#include <limits>

void Mesh::append(const Mesh &other)
{
    const auto shift = static_cast<std::uint32_t>(positions.size());
    const std::size_t before = triangles.size();
    positions.insert(positions.end(), other.positions.begin(), other.positions.end());
    for (const auto &t : other.triangles)
        triangles.push_back({t[0] + shift, t[1] + shift, t[2] + shift});
    corner_normals.insert(corner_normals.end(), other.corner_normals.begin(),
                          other.corner_normals.end());
    uv_sets.resize(std::max(uv_sets.size(), other.uv_sets.size()), UVSet(before));
    for (std::size_t k = 0; k < uv_sets.size(); ++k) {
        if (k < other.uv_sets.size())
            uv_sets[k].insert(uv_sets[k].end(), other.uv_sets[k].begin(), other.uv_sets[k].end());
        else
            uv_sets[k].resize(triangles.size());
    }
}

void place_uvs(Mesh &mesh, float u, float v, float width, float height)
{
    for (UVSet &set : mesh.uv_sets) {
        for (auto &corners : set) {
            for (TexCoord &c : corners)
                c = {u + c.u * width, v + c.v * height};
        }
    }
}

namespace {

template <typename T>
struct BoundsOf {
    Vector3<T> low{std::numeric_limits<T>::infinity(), std::numeric_limits<T>::infinity(),
                   std::numeric_limits<T>::infinity()};
    Vector3<T> high = -low;

    void add(Vector3<T> p)
    {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
};

std::string describe_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string describe(DVec3 p)
{
    char text[96];
    std::snprintf(text, sizeof text, "(%g, %g, %g)", p.x, p.y, p.z);
    return text;
}

// The used vertex farthest from the median of them all, axis by axis: the
// one that stands out from the rest.
std::size_t farthest_out(const std::vector<DVec3> &positions, const std::vector<std::uint32_t> &kept)
{
    std::vector<std::size_t> used;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i] != std::numeric_limits<std::uint32_t>::max())
            used.push_back(i);
    }
    const auto median = [&](double DVec3::*axis) {
        std::vector<double> values;
        for (const std::size_t i : used)
            values.push_back(positions[i].*axis);
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    const DVec3 middle = {median(&DVec3::x), median(&DVec3::y), median(&DVec3::z)};
    return *std::max_element(used.begin(), used.end(), [&](std::size_t a, std::size_t b) {
        const DVec3 da = positions[a] - middle, db = positions[b] - middle;
        return std::max({std::abs(da.x), std::abs(da.y), std::abs(da.z)}) <
               std::max({std::abs(db.x), std::abs(db.y), std::abs(db.z)});
    });
}

}  // namespace

Bounds bounds_of(const Mesh &mesh)
{
    BoundsOf<float> b;
    for (const auto &triangle : mesh.triangles) {
        for (const std::uint32_t corner : triangle)
            b.add(mesh.positions[corner]);
    }
    return {b.low, b.high};
}

Mesh make_traceable_mesh(SceneTriangles scene, const std::string &source)
{
    constexpr auto unused = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> kept(scene.positions.size(), unused);
    BoundsOf<double> b;
    std::uint32_t count = 0;
    for (const auto &triangle : scene.triangles) {
        for (const std::uint32_t corner : triangle) {
            if (kept[corner] != unused)
                continue;
            const DVec3 p = scene.positions[corner];
            if (!is_finite(p))
                throw SceneError(source + ": vertex " + std::to_string(corner + 1) + " is not a finite point");
            kept[corner] = count++;
            b.add(p);
        }
    }

    Mesh mesh;
    mesh.origin = (b.low + b.high) * 0.5;
    const DVec3 reach = b.high - mesh.origin;
    if (!(std::max({reach.x, reach.y, reach.z}) <= max_scene_reach)) {
        const std::size_t stray = farthest_out(scene.positions, kept);
        throw SceneError(source + ": vertex " + std::to_string(stray + 1) + " at " +
                         describe(scene.positions[stray]) +
                         " lies too far from the rest of the scene to be traced (the scene may reach " +
                         describe_number(max_scene_reach) + " units from its centre)");
    }
    mesh.positions.resize(count);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i] != unused)
            mesh.positions[kept[i]] = to_float(scene.positions[i] - mesh.origin);
    }
    mesh.triangles.reserve(scene.triangles.size());
    for (const auto &t : scene.triangles)
        mesh.triangles.push_back({kept[t[0]], kept[t[1]], kept[t[2]]});
    mesh.corner_normals = std::move(scene.corner_normals);
    mesh.uv_sets = std::move(scene.uv_sets);
    return mesh;
}

namespace {

// Adds a triangle with the same normal at every corner.
void add_flat_triangle(Mesh &mesh, Vec3 a, Vec3 b, Vec3 c, const std::array<TexCoord, 3> &uvs)
{
    const auto first = static_cast<std::uint32_t>(mesh.positions.size());
    mesh.positions.insert(mesh.positions.end(), {a, b, c});
    mesh.triangles.push_back({first, first + 1, first + 2});
    const Vec3 n = normalized(cross(b - a, c - a));
    mesh.corner_normals.push_back({n, n, n});
    mesh.uv_sets.resize(1);
    mesh.uv_sets[0].push_back(uvs);
}

// A quad wound counter-clockwise seen from its front, split along a to c,
// with a texture coordinate at each corner.
void add_flat_quad(Mesh &mesh, Vec3 a, Vec3 b, Vec3 c, Vec3 d, const std::array<TexCoord, 4> &uvs)
{
    add_flat_triangle(mesh, a, b, c, {uvs[0], uvs[1], uvs[2]});
    add_flat_triangle(mesh, a, c, d, {uvs[0], uvs[2], uvs[3]});
}

// Cell `index` of three columns and two rows over UV space, from the bottom
// left, a fiftieth of its size clear of its neighbours on each side.
struct Cell {
    float u, v, width, height;
};
Cell grid_cell(int index)
{
    constexpr float width = 1.0f / 3.0f, height = 0.5f, margin = 0.02f;
    return {static_cast<float>(index % 3) * width + margin * width,
            static_cast<float>(index / 3) * height + margin * height, width * (1.0f - 2.0f * margin),
            height * (1.0f - 2.0f * margin)};
}

}  // namespace

Mesh make_ground(float half_size)
{
    Mesh mesh;
    const float h = half_size;
    // u along +x and v along -z: the texture as the ground is seen from above.
    add_flat_quad(mesh, {-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h}, {{{0, 1}, {0, 0}, {1, 0}, {1, 1}}});
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
    // Longitude runs along u so that the map reads unmirrored from outside.
    const auto uv = [&](std::uint32_t vertex) {
        const auto segment = static_cast<float>(vertex % static_cast<std::uint32_t>(segments + 1));
        const auto ring = static_cast<float>(vertex / static_cast<std::uint32_t>(segments + 1));
        return TexCoord{1.0f - segment / static_cast<float>(segments), 1.0f - ring / static_cast<float>(rings)};
    };
    mesh.uv_sets.resize(1);
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
                mesh.uv_sets[0].push_back({uv(a), uv(b), uv(c)});
            }
            if (ring != rings - 1) {
                mesh.triangles.push_back({b, d, c});
                mesh.corner_normals.push_back({unit[b], unit[d], unit[c]});
                mesh.uv_sets[0].push_back({uv(b), uv(d), uv(c)});
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
    const Vec3 faces[6][4] = {
        {corner(-1, 1, -1), corner(-1, 1, 1), corner(1, 1, 1), corner(1, 1, -1)},      // top
        {corner(-1, -1, -1), corner(1, -1, -1), corner(1, -1, 1), corner(-1, -1, 1)},  // bottom
        {corner(-1, -1, 1), corner(1, -1, 1), corner(1, 1, 1), corner(-1, 1, 1)},      // front
        {corner(1, -1, -1), corner(-1, -1, -1), corner(-1, 1, -1), corner(1, 1, -1)},  // back
        {corner(1, -1, 1), corner(1, -1, -1), corner(1, 1, -1), corner(1, 1, 1)},      // right
        {corner(-1, -1, -1), corner(-1, -1, 1), corner(-1, 1, 1), corner(-1, 1, -1)},  // left
    };
    Mesh mesh;
    for (int f = 0; f < 6; ++f) {
        const Cell cell = grid_cell(f);
        const float u0 = cell.u, v0 = cell.v, u1 = cell.u + cell.width, v1 = cell.v + cell.height;
        add_flat_quad(mesh, faces[f][0], faces[f][1], faces[f][2], faces[f][3],
                      {{{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}}});
    }
    return mesh;
}

Mesh make_default_scene()
{
    // A turned box with a sphere against one face and a small sphere at the
    // foot of another (each a few thousandths clear of the box), and a slab
    // with a sphere resting on top.
    const Mesh parts[6] = {make_ground(30.0f),
                           make_box({0.4f, 0.8f, -0.6f}, {0.8f, 0.8f, 0.8f}, 0.5f),
                           make_sphere({-1.335f, 1.0f, -0.015f}, 1.0f, 96, 48),
                           make_sphere({0.728f, 0.35f, 0.534f}, 0.35f, 64, 32),
                           make_box({2.9f, 0.2f, 0.2f}, {0.9f, 0.2f, 1.3f}, -0.3f),
                           make_sphere({2.9f, 0.95f, 0.2f}, 0.55f, 64, 32)};
    Mesh scene;
    for (int i = 0; i < 6; ++i) {
        Mesh part = parts[i];
        const Cell cell = grid_cell(i);
        place_uvs(part, cell.u, cell.v, cell.width, cell.height);
        scene.append(part);
    }
    return scene;
}
