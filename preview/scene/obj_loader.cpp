// Reading a Wavefront OBJ scene with tinyobjloader, in double precision.

#include <tiny_obj_loader.h>

#include <ext/stdio_filebuf.h>

#include <istream>

#include "preview/printable_text.h"
#include "preview/scene/counted_words.h"
#include "preview/scene/mesh.h"
#include "preview/scene/polygon_triangulation.h"
#include "preview/scene/scene_folder.h"

namespace {

// Material libraries read only from the scene's folder. Their materials
// play no part in the picture, but the reader reads them all the same.
class FolderMaterialReader : public tinyobj::MaterialReader {
public:
    explicit FolderMaterialReader(SceneFolder &folder) : folder_(folder) {}

    bool operator()(const std::string &name, std::vector<tinyobj::material_t> *materials,
                    std::map<std::string, int> *names, std::string *warning, std::string *error) override
    {
        const int fd = folder_.open(name);
        if (fd < 0)
            return false;
        __gnu_cxx::stdio_filebuf<char> buffer(fd, std::ios::in);  // closes the descriptor
        std::istream stream(&buffer);
        tinyobj::LoadMtl(names, materials, &stream, warning, error);
        return true;
    }

private:
    SceneFolder &folder_;
};

// A corner normal from the file, or the face's own where the file's is
// missing, zero or not finite.
Vec3 corner_normal(const tinyobj::attrib_t &attrib, int index, Vec3 face_normal)
{
    const auto n = static_cast<std::size_t>(index) * 3;
    const Vec3 normal = normalized(to_float({attrib.normals[n], attrib.normals[n + 1], attrib.normals[n + 2]}));
    return is_finite(normal) && length(normal) > 0.0f ? normal : face_normal;
}

// A triangle's corners in the file's texture coordinates.
std::array<TexCoord, 3> corner_uvs(const tinyobj::attrib_t &attrib, const tinyobj::index_t *index,
                                   const CornerTriangle &t)
{
    std::array<TexCoord, 3> uvs;
    for (int c = 0; c < 3; ++c) {
        const auto i = static_cast<std::size_t>(index[t[c]].texcoord_index) * 2;
        uvs[c] = {static_cast<float>(attrib.texcoords[i]), static_cast<float>(attrib.texcoords[i + 1])};
    }
    return uvs;
}

}  // namespace

LoadedScene load_obj(const std::string &path, const MeshChoice &choice, std::string *holds)
{
    SceneFolder folder(path);
    const int fd = folder.open(folder.scene_file());
    if (fd < 0)
        throw SceneError(path + ": cannot be read");
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    {
        __gnu_cxx::stdio_filebuf<char> buffer(fd, std::ios::in, 1 << 16);  // closes the descriptor
        std::istream stream(&buffer);
        FolderMaterialReader materials(folder);
        std::vector<tinyobj::material_t> unused;
        std::string warning, error;
        // Polygons are split below, keeping their shape; no vertex colours.
        if (!tinyobj::LoadObj(&attrib, &shapes, &unused, &warning, &error, &stream, &materials, false, false))
            throw SceneError(path + ": " + first_line(error, "not a readable OBJ file"));
    }

    SceneTriangles scene;
    scene.positions.reserve(attrib.vertices.size() / 3);
    for (std::size_t i = 0; i + 2 < attrib.vertices.size(); i += 3)
        scene.positions.push_back({attrib.vertices[i], attrib.vertices[i + 1], attrib.vertices[i + 2]});
    const auto vertex_count = static_cast<int>(scene.positions.size());
    const auto normal_count = static_cast<int>(attrib.normals.size() / 3);
    const auto texcoord_count = static_cast<int>(attrib.texcoords.size() / 2);
    // One UV set where the file has texture coordinates; a face without them,
    // or with one that does not exist, gets (0, 0) at every corner.
    if (texcoord_count > 0)
        scene.uv_sets.resize(1);

    std::size_t skipped = 0;
    std::vector<DVec3> corners;
    std::vector<MeshSummary> meshes;
    for (const tinyobj::shape_t &shape : shapes) {
        MeshSummary summary;
        summary.name = shape.name;
        if (!choice.shows({shape.name})) {
            summary.placements = 0;
            summary.hidden = 1;
            for (const unsigned char count : shape.mesh.num_face_vertices)
                summary.triangles += count > 2 ? count - 2 : 0;
            meshes.push_back(summary);
            continue;
        }
        // The reader counts a face's corners in a byte: more than 255 would
        // shift every face after it.
        std::size_t listed = 0;
        for (const unsigned char count : shape.mesh.num_face_vertices)
            listed += count;
        if (listed != shape.mesh.indices.size())
            throw SceneError(path + ": a face of \"" + shape.name + "\" has more than 255 corners");

        const std::size_t triangles_before = scene.triangles.size();
        std::size_t first = 0;
        for (const unsigned char count : shape.mesh.num_face_vertices) {
            const tinyobj::index_t *index = &shape.mesh.indices[first];
            first += count;
            corners.clear();
            bool has_normals = true, has_texcoords = true;
            for (std::size_t c = 0; c < count; ++c) {
                if (index[c].vertex_index < 0 || index[c].vertex_index >= vertex_count)
                    throw SceneError(path + ": a face of \"" + shape.name + "\" refers to vertex " +
                                     std::to_string(index[c].vertex_index + 1) + ", which does not exist");
                corners.push_back(scene.positions[static_cast<std::size_t>(index[c].vertex_index)]);
                has_normals = has_normals && index[c].normal_index >= 0 && index[c].normal_index < normal_count;
                has_texcoords = has_texcoords && index[c].texcoord_index >= 0 &&
                                index[c].texcoord_index < texcoord_count;
            }
            const std::vector<CornerTriangle> triangles = triangulate_polygon(corners);
            if (triangles.empty())
                ++skipped;
            for (const CornerTriangle &t : triangles) {
                const Vec3 face_normal =
                    to_float(normalized(cross(corners[t[1]] - corners[t[0]], corners[t[2]] - corners[t[0]])));
                std::array<Vec3, 3> normals = {face_normal, face_normal, face_normal};
                std::array<std::uint32_t, 3> triangle;
                for (int c = 0; c < 3; ++c) {
                    triangle[c] = static_cast<std::uint32_t>(index[t[c]].vertex_index);
                    if (has_normals)
                        normals[c] = corner_normal(attrib, index[t[c]].normal_index, face_normal);
                }
                scene.triangles.push_back(triangle);
                scene.corner_normals.push_back(normals);
                for (const std::uint32_t corner : triangle)
                    summary.enclose(scene.positions[corner]);
                if (texcoord_count > 0)
                    scene.uv_sets[0].push_back(has_texcoords ? corner_uvs(attrib, index, t) : std::array<TexCoord, 3>{});
            }
        }
        summary.triangles = scene.triangles.size() - triangles_before;
        meshes.push_back(summary);
    }
    if (scene.triangles.empty() && (!choice.hide.empty() || !choice.only.empty()) && !meshes.empty())
        throw SceneError(path + ": --hide and --only leave no triangles to render");
    if (scene.triangles.empty() && holds) {
        std::size_t lines = 0, points = 0;
        for (const tinyobj::shape_t &shape : shapes) {
            lines += shape.lines.num_line_vertices.size();
            points += shape.points.indices.size();
        }
        std::vector<std::string> parts;
        count_in(parts, scene.positions.size(), "vertex", "vertices");
        count_in(parts, lines, "line", "lines");
        count_in(parts, points, "point", "points");
        parts.push_back(skipped > 0 ? plural(skipped, "face", "faces") + " without area or with crossing edges"
                                    : std::string("no faces"));
        *holds = listed(parts);
    }

    LoadedScene loaded{scene.triangles.empty() ? Mesh{} : make_traceable_mesh(std::move(scene), path), {},
                       std::move(meshes)};
    folder.add_warnings(loaded.warnings, path);
    for (const std::string &unmatched : choice.unmatched())
        loaded.warnings.push_back(path + ": " + unmatched);
    if (skipped > 0)
        loaded.warnings.push_back(path + ": " + std::to_string(skipped) +
                                  (skipped == 1 ? " face has" : " faces have") +
                                  " no area or crossing edges and could not be triangulated; skipped");
    return loaded;
}
