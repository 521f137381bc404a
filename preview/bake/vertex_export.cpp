#include "preview/bake/vertex_export.h"

#include <assimp/Exporter.hpp>
#include <assimp/scene.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <numeric>

#include "preview/value_parsing.h"

namespace {

enum class Format { glb, ply };

Format format_of(const std::string &path)
{
    const std::string extension = lowercase_extension(path);
    if (extension == ".glb")
        return Format::glb;
    if (extension == ".ply")
        return Format::ply;
    throw ImageOutputError(path + ": a vertex bake is written as .glb or .ply");
}

std::uint32_t bits_of(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Corners (3 triangle + corner) ordered by their position, then by what
// else the file keeps per vertex, bit for bit: the normal and each UV set's
// coordinates. Alike corners share a written vertex.
int compare_corners(const Mesh &mesh, std::size_t a, std::size_t b)
{
    const std::size_t ta = a / 3, ca = a % 3, tb = b / 3, cb = b % 3;
    const auto order = [](std::uint32_t x, std::uint32_t y) { return x < y ? -1 : x > y ? 1 : 0; };
    if (const int o = order(mesh.triangles[ta][ca], mesh.triangles[tb][cb]))
        return o;
    const Vec3 na = mesh.corner_normals[ta][ca], nb = mesh.corner_normals[tb][cb];
    for (const auto &[x, y] : {std::pair{na.x, nb.x}, std::pair{na.y, nb.y}, std::pair{na.z, nb.z}}) {
        if (const int o = order(bits_of(x), bits_of(y)))
            return o;
    }
    for (const UVSet &set : mesh.uv_sets) {
        const TexCoord ua = set[ta][ca], ub = set[tb][cb];
        if (const int o = order(bits_of(ua.u), bits_of(ub.u)))
            return o;
        if (const int o = order(bits_of(ua.v), bits_of(ub.v)))
            return o;
    }
    return 0;
}

// The scene's frame turned and scaled into the file's.
struct Placement {
    UpAxis up;  // turned to +Y
    double scale;

    DVec3 vector(DVec3 v) const { return to_y_up_precisely(v, up); }
};

// A colour as the format keeps it: clamped; for PLY, whose bytes are
// written truncated, the middle of the byte that rounding would give.
aiColor4D stored(const miColor &c, PixelMeaning meaning, Format format)
{
    std::array<float, 4> channels = stored_channels(c, meaning, format == Format::ply);
    for (float &channel : channels) {
        channel = std::isnan(channel) ? 0.0f : std::clamp(channel, 0.0f, 1.0f);
        if (format == Format::ply)
            channel = (std::round(channel * 255.0f) + 0.5f) / 255.0f;
    }
    return {channels[0], channels[1], channels[2], channels[3]};
}

}  // namespace

void check_vertex_output(const std::string &path)
{
    format_of(path);
    check_writable(path);
}

void write_vertex_colours(const Mesh &mesh, const std::vector<miColor> &colours, PixelMeaning meaning,
                          const std::string &path, UpAxis up, std::optional<double> units_per_metre)
{
    const Format format = format_of(path);
    const Placement placement = {format == Format::glb ? up : UpAxis::y,
                                 format == Format::glb && units_per_metre ? 1.0 / *units_per_metre : 1.0};

    // One written vertex per distinct corner, named by its first corner.
    std::vector<std::size_t> corners(3 * mesh.triangles.size());
    std::iota(corners.begin(), corners.end(), std::size_t{0});
    std::sort(corners.begin(), corners.end(),
              [&](std::size_t a, std::size_t b) { return compare_corners(mesh, a, b) < 0; });
    std::vector<std::size_t> vertices;
    std::vector<unsigned> written(corners.size());
    for (std::size_t i = 0; i < corners.size(); ++i) {
        if (i == 0 || compare_corners(mesh, corners[i - 1], corners[i]) != 0)
            vertices.push_back(corners[i]);
        written[corners[i]] = static_cast<unsigned>(vertices.size() - 1);
    }

    // The scene owns what it points to, and frees it with delete[] and delete.
    aiScene scene;
    scene.mRootNode = new aiNode("baked");
    scene.mRootNode->mNumMeshes = 1;
    scene.mRootNode->mMeshes = new unsigned[1]{0};
    scene.mNumMaterials = 1;
    scene.mMaterials = new aiMaterial *[1]{new aiMaterial};
    scene.mNumMeshes = 1;
    scene.mMeshes = new aiMesh *[1]{new aiMesh};
    aiMesh &out = *scene.mMeshes[0];
    out.mName = "baked";
    out.mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    out.mNumVertices = static_cast<unsigned>(vertices.size());
    out.mVertices = new aiVector3D[vertices.size()];
    out.mNormals = new aiVector3D[vertices.size()];
    out.mColors[0] = new aiColor4D[vertices.size()];
    const std::size_t sets = std::min<std::size_t>(mesh.uv_sets.size(), AI_MAX_NUMBER_OF_TEXTURECOORDS);
    for (std::size_t k = 0; k < sets; ++k) {
        out.mTextureCoords[k] = new aiVector3D[vertices.size()];
        out.mNumUVComponents[k] = 2;
    }
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const std::size_t t = vertices[i] / 3, c = vertices[i] % 3;
        const std::uint32_t position = mesh.triangles[t][c];
        const DVec3 p = placement.vector(mesh.origin + to_double(mesh.positions[position])) * placement.scale;
        const DVec3 n = placement.vector(to_double(mesh.corner_normals[t][c]));
        out.mVertices[i] = aiVector3D(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
        out.mNormals[i] = aiVector3D(static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z));
        out.mColors[0][i] = stored(colours[position], meaning, format);
        for (std::size_t k = 0; k < sets; ++k)
            out.mTextureCoords[k][i] = aiVector3D(mesh.uv_sets[k][t][c].u, mesh.uv_sets[k][t][c].v, 0.0f);
    }
    out.mNumFaces = static_cast<unsigned>(mesh.triangles.size());
    out.mFaces = new aiFace[mesh.triangles.size()];
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        out.mFaces[t].mNumIndices = 3;
        out.mFaces[t].mIndices = new unsigned[3]{written[3 * t], written[3 * t + 1], written[3 * t + 2]};
    }

    Assimp::Exporter exporter;
    const aiExportDataBlob *blob = exporter.ExportToBlob(&scene, format == Format::glb ? "glb2" : "ply");
    if (!blob || blob->next) {
        const std::string why = blob ? "the exporter made more than one file" : exporter.GetErrorString();
        throw ImageOutputError(path + ": cannot write the mesh (" + why + ")");
    }
    write_whole_file(path, std::string(static_cast<const char *>(blob->data), blob->size));
}
