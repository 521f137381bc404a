#include "bench/bench_scenes.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

float terrain_height(float x, float z)
{
    return 0.25f * std::sin(x * 1.3f) * std::cos(z * 1.7f) + 0.1f * std::sin(x * 4.1f + z * 3.3f);
}

Mesh make_terrain(int cells, float half_size)
{
    Mesh mesh;
    const int row = cells + 1;
    const float step = 2.0f * half_size / static_cast<float>(cells);
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            const float x = -half_size + step * static_cast<float>(i);
            const float z = -half_size + step * static_cast<float>(j);
            mesh.positions.push_back({x, terrain_height(x, z), z});
        }
    }
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            const auto a = static_cast<std::uint32_t>(j * row + i);
            const std::uint32_t b = a + 1, c = a + static_cast<std::uint32_t>(row), d = c + 1;
            for (const std::array<std::uint32_t, 3> &t : {std::array<std::uint32_t, 3>{a, c, b},
                                                         std::array<std::uint32_t, 3>{b, c, d}}) {
                const Vec3 n = normalized(cross(mesh.positions[t[1]] - mesh.positions[t[0]],
                                                mesh.positions[t[2]] - mesh.positions[t[0]]));
                mesh.triangles.push_back(t);
                mesh.corner_normals.push_back({n, n, n});
            }
        }
    }
    return mesh;
}

}  // namespace

Mesh make_bench_scene(std::size_t triangles)
{
    const auto cells = static_cast<int>(std::sqrt(0.8 * static_cast<double>(triangles) / 2.0));
    Mesh scene = make_terrain(cells, 6.0f);
    const auto segments = static_cast<int>(std::sqrt(0.05 * static_cast<double>(triangles)));
    const float places[4][3] = {{-2.5f, 1.0f, -1.0f}, {1.5f, 0.7f, 0.5f}, {0.0f, 0.5f, 2.5f}, {3.0f, 1.2f, -2.5f}};
    for (const auto &p : places) {
        const float radius = p[1];
        scene.append(make_sphere({p[0], terrain_height(p[0], p[2]) + radius * 0.9f, p[2]}, radius,
                                 segments, std::max(segments / 2, 3)));
    }
    return scene;
}

Mesh make_bake_scene()
{
    // The ground: squares of two triangles, its UVs over the unit square.
    constexpr int cells = 102;
    constexpr float half = 5.0f, step = 2.0f * half / cells;
    Mesh ground;
    ground.uv_sets.resize(1);
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            const float x0 = -half + step * i, z0 = half - step * j;
            const auto first = static_cast<std::uint32_t>(ground.positions.size());
            ground.positions.insert(ground.positions.end(),
                                    {{x0, 0, z0}, {x0 + step, 0, z0}, {x0 + step, 0, z0 - step}, {x0, 0, z0 - step}});
            const float u0 = static_cast<float>(i) / cells, v0 = static_cast<float>(j) / cells, d = 1.0f / cells;
            const TexCoord a = {u0, v0}, b = {u0 + d, v0}, c = {u0 + d, v0 + d}, e = {u0, v0 + d};
            ground.triangles.push_back({first, first + 1, first + 2});
            ground.triangles.push_back({first, first + 2, first + 3});
            ground.corner_normals.insert(ground.corner_normals.end(), {{up, up, up}, {up, up, up}});
            ground.uv_sets[0].insert(ground.uv_sets[0].end(), {{a, b, c}, {a, c, e}});
        }
    }
    place_uvs(ground, 0.0f, 0.0f, 0.6f, 1.0f);
    Mesh sphere = make_sphere({-1.2f, 1.0f, 0.0f}, 1.0f, 48, 24);
    place_uvs(sphere, 0.62f, 0.52f, 0.38f, 0.48f);
    Mesh box = make_box({1.6f, 0.601f, 0.3f}, {0.8f, 0.6f, 0.8f}, 0.4f);  // a hair above the ground
    place_uvs(box, 0.62f, 0.0f, 0.38f, 0.5f);
    ground.append(sphere);
    ground.append(box);
    return ground;
}

void write_obj(const Mesh &mesh, const std::string &path, bool with_uvs)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    for (const Vec3 &p : mesh.positions)
        std::fprintf(file, "v %.7g %.7g %.7g\n", p.x, p.y, p.z);
    with_uvs = with_uvs && !mesh.uv_sets.empty();
    for (std::size_t t = 0; with_uvs && t < mesh.triangles.size(); ++t) {
        for (const TexCoord &c : mesh.uv_sets[0][t])
            std::fprintf(file, "vt %.7g %.7g\n", c.u, c.v);
    }
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto &c = mesh.triangles[t];
        if (with_uvs)
            std::fprintf(file, "f %u/%zu %u/%zu %u/%zu\n", c[0] + 1, 3 * t + 1, c[1] + 1, 3 * t + 2, c[2] + 1,
                         3 * t + 3);
        else
            std::fprintf(file, "f %u %u %u\n", c[0] + 1, c[1] + 1, c[2] + 1);
    }
    std::fclose(file);
}
