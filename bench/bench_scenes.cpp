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

void write_obj(const Mesh &mesh, const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    for (const Vec3 &p : mesh.positions)
        std::fprintf(file, "v %.7g %.7g %.7g\n", p.x, p.y, p.z);
    for (const auto &t : mesh.triangles)
        std::fprintf(file, "f %u %u %u\n", t[0] + 1, t[1] + 1, t[2] + 1);
    std::fclose(file);
}
