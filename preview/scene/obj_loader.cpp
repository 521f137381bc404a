// Reading a Wavefront OBJ scene with tinyobjloader.

#include <tiny_obj_loader.h>

#include <cmath>
#include <filesystem>

#include "preview/scene/mesh.h"

namespace {

std::string first_line(const std::string &text)
{
    const std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "not a readable OBJ file" : line;
}

bool finite(Vec3 v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

Mesh load_obj(const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw SceneError(path + ": no such scene file");

    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(path, config))
        throw SceneError(path + ": " + first_line(reader.Error()));

    const tinyobj::attrib_t &attrib = reader.GetAttrib();
    Mesh mesh;
    for (std::size_t i = 0; i + 2 < attrib.vertices.size(); i += 3) {
        const Vec3 p = {attrib.vertices[i], attrib.vertices[i + 1], attrib.vertices[i + 2]};
        if (!finite(p))
            throw SceneError(path + ": vertex " + std::to_string(i / 3 + 1) + " is not a finite point");
        mesh.positions.push_back(p);
    }
    const auto vertex_count = static_cast<int>(mesh.positions.size());
    const auto normal_count = static_cast<int>(attrib.normals.size() / 3);

    for (const tinyobj::shape_t &shape : reader.GetShapes()) {
        std::size_t first = 0;
        for (const unsigned char corners : shape.mesh.num_face_vertices) {
            const tinyobj::index_t *index = &shape.mesh.indices[first];
            first += corners;
            if (corners != 3)
                continue;  // a face that could not be triangulated
            std::array<std::uint32_t, 3> triangle;
            bool has_normals = true;
            for (int c = 0; c < 3; ++c) {
                if (index[c].vertex_index < 0 || index[c].vertex_index >= vertex_count)
                    throw SceneError(path + ": a face of \"" + shape.name +
                                     "\" refers to vertex " + std::to_string(index[c].vertex_index + 1) +
                                     ", which does not exist");
                triangle[c] = static_cast<std::uint32_t>(index[c].vertex_index);
                has_normals = has_normals && index[c].normal_index >= 0 &&
                              index[c].normal_index < normal_count;
            }
            const Vec3 &a = mesh.positions[triangle[0]];
            const Vec3 face_normal = normalized(cross(mesh.positions[triangle[1]] - a,
                                                      mesh.positions[triangle[2]] - a));
            if (length(face_normal) == 0.0f)
                continue;  // no area, nothing to see or hit
            std::array<Vec3, 3> normals = {face_normal, face_normal, face_normal};
            if (has_normals) {
                for (int c = 0; c < 3; ++c) {
                    const auto n = static_cast<std::size_t>(index[c].normal_index) * 3;
                    const Vec3 normal = normalized({attrib.normals[n], attrib.normals[n + 1],
                                                    attrib.normals[n + 2]});
                    normals[c] = finite(normal) && length(normal) > 0.0f ? normal : face_normal;
                }
            }
            mesh.triangles.push_back(triangle);
            mesh.corner_normals.push_back(normals);
        }
    }
    if (mesh.triangles.empty())
        throw SceneError(path + ": the scene has no faces");
    return mesh;
}
