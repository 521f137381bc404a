// Scene files through Assimp, and OBJ through tinyobjloader; the node
// hierarchy flattened in double precision into the one mesh that is traced.

#include "preview/scene/scene_import.h"

#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/commonMetaData.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <stdexcept>

#include "preview/printable_text.h"
#include "preview/scene/polygon_triangulation.h"
#include "preview/scene/scene_folder.h"
#include "preview/value_parsing.h"

namespace {

constexpr double pi = 3.14159265358979323846;

// An affine transform in double precision: the top three rows of a 4x4
// matrix that maps column vectors.
struct Affine {
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    static Affine from(const aiMatrix4x4 &a)
    {
        Affine t;
        for (unsigned r = 0; r < 3; ++r) {
            for (unsigned c = 0; c < 4; ++c)
                t.m[r][c] = a[r][c];
        }
        return t;
    }

    // This transform applied after `inner`.
    Affine operator*(const Affine &inner) const
    {
        Affine t;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                t.m[r][c] = m[r][0] * inner.m[0][c] + m[r][1] * inner.m[1][c] + m[r][2] * inner.m[2][c] +
                            (c == 3 ? m[r][3] : 0.0);
            }
        }
        return t;
    }

    DVec3 vector(DVec3 v) const
    {
        return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
    }

    DVec3 point(DVec3 p) const { return vector(p) + DVec3{m[0][3], m[1][3], m[2][3]}; }

    double determinant() const
    {
        return dot(column(0), cross(column(1), column(2)));
    }

    // A normal carried by the inverse transpose, as a unit vector: the
    // cofactor matrix is the inverse transpose times the determinant, whose
    // sign is put back.
    DVec3 normal(DVec3 n) const
    {
        const DVec3 a = column(0), b = column(1), c = column(2);
        const DVec3 carried = cross(b, c) * n.x + cross(c, a) * n.y + cross(a, b) * n.z;
        return normalized(determinant() < 0.0 ? -carried : carried);
    }

    DVec3 column(int c) const { return {m[0][c], m[1][c], m[2][c]}; }
};

DVec3 to_double(const aiVector3D &v) { return {v.x, v.y, v.z}; }

std::string name_of(const aiString &name, const char *kind, std::size_t index)
{
    return name.length > 0 ? std::string(name.C_Str()) : std::string(kind) + " " + std::to_string(index + 1);
}

std::string plural(std::size_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A number in the file's metadata, whatever type the importer stored it as.
std::optional<double> metadata_number(const aiMetadata *data, const char *key)
{
    if (!data || !data->mKeys || !data->mValues)
        return std::nullopt;
    for (unsigned i = 0; i < data->mNumProperties; ++i) {
        const aiMetadataEntry &entry = data->mValues[i];
        if (data->mKeys[i] != aiString(key) || !entry.mData)
            continue;
        switch (entry.mType) {
        case AI_INT32: return *static_cast<const int32_t *>(entry.mData);
        case AI_UINT64: return static_cast<double>(*static_cast<const uint64_t *>(entry.mData));
        case AI_FLOAT: return *static_cast<const float *>(entry.mData);
        case AI_DOUBLE: return *static_cast<const double *>(entry.mData);
        default: return std::nullopt;
        }
    }
    return std::nullopt;
}

std::string metadata_text(const aiMetadata *data, const char *key)
{
    if (!data || !data->mKeys || !data->mValues)
        return {};
    for (unsigned i = 0; i < data->mNumProperties; ++i) {
        const aiMetadataEntry &entry = data->mValues[i];
        if (data->mKeys[i] == aiString(key) && entry.mType == AI_AISTRING && entry.mData)
            return static_cast<const aiString *>(entry.mData)->C_Str();
    }
    return {};
}

bool starts_with(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// What the format and the file's metadata say about units and up. glTF is
// Y-up in metres by definition; the Collada importer turns the file's
// <up_axis> to Y and scales its <unit> to metres in the root node; the 3DS
// importer turns the file's Z-up to Y; FBX states both in its global settings.
void read_units_and_up(const aiScene &scene, ImportedScene &imported, const std::string &source)
{
    const aiMetadata *data = scene.mMetaData;
    if (starts_with(imported.format, "glTF")) {
        imported.units_per_metre = 1.0;
        imported.units_note = "glTF is in metres";
        imported.up = UpAxis::y;
        imported.up_note = "glTF is Y-up";
    } else if (starts_with(imported.format, "Collada")) {
        imported.units_per_metre = 1.0;
        imported.units_note = "the importer converts the file's <unit> to metres";
        imported.up = UpAxis::y;
        imported.up_note = "the importer turns the file's <up_axis> to Y";
    } else if (starts_with(imported.format, "Discreet 3DS")) {
        imported.up = UpAxis::y;
        imported.up_note = "the importer turns 3DS's Z-up to Y";
    } else if (starts_with(imported.format, "Autodesk FBX")) {
        const std::optional<double> centimetres = metadata_number(data, "UnitScaleFactor");
        if (centimetres && std::isfinite(*centimetres) && *centimetres > 0.0) {
            imported.units_per_metre = 100.0 / *centimetres;
            char text[80];
            std::snprintf(text, sizeof text, "the file's UnitScaleFactor: 1 unit is %g cm", *centimetres);
            imported.units_note = text;
        }
        const std::optional<double> axis = metadata_number(data, "UpAxis");
        const std::optional<double> sign = metadata_number(data, "UpAxisSign");
        if (axis && (!sign || *sign > 0.0) && (*axis == 1.0 || *axis == 2.0)) {
            imported.up = *axis == 1.0 ? UpAxis::y : UpAxis::z;
            imported.up_note = "the file's UpAxis";
        } else if (axis) {
            char stated[64];
            std::snprintf(stated, sizeof stated, "UpAxis %g, sign %g", *axis, sign ? *sign : 1.0);
            imported.loaded.warnings.push_back(source + ": the file's up axis (" + stated +
                                               ") is neither +Y nor +Z; taking +Y unless --up says otherwise");
        }
    }
}

struct FaceCounts {
    std::size_t points = 0, lines = 0, untriangulated = 0, empty_meshes = 0;
};

class Flattener {
public:
    Flattener(const aiScene &scene, const std::string &source) : scene_(scene), source_(source)
    {
        summaries_.resize(scene.mMeshes ? scene.mNumMeshes : 0, MeshSummary{{}, 0, 0});
        for (unsigned i = 0; i < scene.mNumCameras && scene.mCameras; ++i) {
            if (scene.mCameras[i])
                camera_nodes_.emplace(scene.mCameras[i]->mName.C_Str(), std::nullopt);
        }
    }

    void run()
    {
        if (!scene_.mRootNode)
            throw SceneError(source_ + ": the file holds no scene");
        // Depth first without recursion, so that no hierarchy is too deep.
        std::vector<std::pair<const aiNode *, Affine>> pending = {
            {scene_.mRootNode, Affine::from(scene_.mRootNode->mTransformation)}};
        while (!pending.empty()) {
            const auto [node, transform] = pending.back();
            pending.pop_back();
            const auto camera = camera_nodes_.find(node->mName.C_Str());
            if (camera != camera_nodes_.end() && !camera->second)
                camera->second = transform;
            for (unsigned i = 0; i < node->mNumMeshes && node->mMeshes; ++i)
                place(node->mMeshes[i], transform, node);
            for (unsigned i = node->mNumChildren; i-- > 0 && node->mChildren;) {
                const aiNode *child = node->mChildren[i];
                if (child)
                    pending.push_back({child, transform * Affine::from(child->mTransformation)});
            }
        }
    }

    SceneTriangles triangles;
    FaceCounts counts;

    std::vector<MeshSummary> meshes() const
    {
        std::vector<MeshSummary> placed;
        for (const MeshSummary &summary : summaries_) {
            if (summary.placements > 0 && summary.triangles > 0)
                placed.push_back(summary);
        }
        return placed;
    }

    // A camera's node transform; none where no node carries its name.
    Affine camera_transform(const aiString &name) const
    {
        const auto found = camera_nodes_.find(name.C_Str());
        return found != camera_nodes_.end() && found->second ? *found->second : Affine{};
    }

private:
    void place(unsigned index, const Affine &transform, const aiNode *node)
    {
        if (index >= summaries_.size() || !scene_.mMeshes[index])
            throw SceneError(source_ + ": node \"" + node->mName.C_Str() + "\" places mesh " +
                             std::to_string(index + 1) + ", which does not exist");
        const aiMesh &mesh = *scene_.mMeshes[index];
        MeshSummary &summary = summaries_[index];
        summary.name = name_of(mesh.mName, "mesh", index);
        ++summary.placements;
        if (mesh.mNumVertices == 0 || !mesh.mVertices || mesh.mNumFaces == 0 || !mesh.mFaces) {
            ++counts.empty_meshes;
            return;
        }
        constexpr std::size_t index_limit = std::numeric_limits<std::uint32_t>::max();
        const std::size_t base = triangles.positions.size();
        if (base + mesh.mNumVertices >= index_limit)
            throw SceneError(source_ + ": the scene has more than " + std::to_string(index_limit) +
                             " vertices once every node's meshes are placed");

        for (unsigned v = 0; v < mesh.mNumVertices; ++v)
            triangles.positions.push_back(transform.point(to_double(mesh.mVertices[v])));
        const bool mirrored = transform.determinant() < 0.0;
        const std::size_t triangles_before = triangles.triangles.size();
        std::vector<DVec3> corners;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
            const aiFace &face = mesh.mFaces[f];
            const unsigned count = face.mIndices ? face.mNumIndices : 0;
            if (count < 3) {
                ++(count == 2 ? counts.lines : counts.points);
                continue;
            }
            corners.clear();
            for (unsigned c = 0; c < count; ++c) {
                if (face.mIndices[c] >= mesh.mNumVertices)
                    throw SceneError(source_ + ": face " + std::to_string(f + 1) + " of mesh \"" + summary.name +
                                     "\" refers to vertex " + std::to_string(face.mIndices[c] + 1) + " of " +
                                     std::to_string(mesh.mNumVertices));
                const DVec3 p = triangles.positions[base + face.mIndices[c]];
                if (!is_finite(p))
                    throw SceneError(source_ + ": vertex " + std::to_string(face.mIndices[c] + 1) + " of mesh \"" +
                                     summary.name + "\" is not a finite point where node \"" +
                                     node->mName.C_Str() + "\" places it");
                corners.push_back(p);
            }
            const std::vector<CornerTriangle> split =
                count == 3 ? std::vector<CornerTriangle>{{0, 1, 2}} : triangulate_polygon(corners);
            if (split.empty())
                ++counts.untriangulated;
            for (CornerTriangle t : split) {
                if (mirrored)  // keep the winding the file meant
                    std::swap(t[1], t[2]);
                add_triangle(mesh, face, t, corners, transform, base);
            }
        }
        if (summary.placements == 1)
            summary.triangles = triangles.triangles.size() - triangles_before;
    }

    void add_triangle(const aiMesh &mesh, const aiFace &face, const CornerTriangle &t,
                      const std::vector<DVec3> &corners, const Affine &transform, std::size_t base)
    {
        const DVec3 a = corners[t[0]], b = corners[t[1]], c = corners[t[2]];
        const Vec3 face_normal = to_float(normalized(cross(b - a, c - a)));
        std::array<Vec3, 3> normals = {face_normal, face_normal, face_normal};
        std::array<std::uint32_t, 3> triangle;
        for (int k = 0; k < 3; ++k) {
            const unsigned vertex = face.mIndices[t[k]];
            triangle[k] = static_cast<std::uint32_t>(base + vertex);
            if (mesh.mNormals) {
                const Vec3 n = to_float(transform.normal(to_double(mesh.mNormals[vertex])));
                if (is_finite(n) && length(n) > 0.0f)
                    normals[k] = n;
            }
        }
        triangles.triangles.push_back(triangle);
        triangles.corner_normals.push_back(normals);
        add_uvs(mesh, triangle, base);
    }

    // The triangle's corners in each UV set the scene has so far: (0, 0)
    // where this mesh has no coordinates in a set, and a new set starts with
    // (0, 0) for every triangle before it.
    void add_uvs(const aiMesh &mesh, const std::array<std::uint32_t, 3> &triangle, std::size_t base)
    {
        unsigned sets = AI_MAX_NUMBER_OF_TEXTURECOORDS;
        while (sets > 0 && !mesh.mTextureCoords[sets - 1])
            --sets;
        auto &uv_sets = triangles.uv_sets;
        if (uv_sets.size() < sets)
            uv_sets.resize(sets, UVSet(triangles.triangles.size() - 1));
        for (std::size_t k = 0; k < uv_sets.size(); ++k) {
            std::array<TexCoord, 3> corners{};
            for (int c = 0; k < sets && mesh.mTextureCoords[k] && c < 3; ++c) {
                const aiVector3D &uv = mesh.mTextureCoords[k][triangle[c] - base];
                corners[c] = {uv.x, uv.y};
            }
            uv_sets[k].push_back(corners);
        }
    }

    const aiScene &scene_;
    const std::string &source_;
    std::vector<MeshSummary> summaries_;
    std::map<std::string, std::optional<Affine>> camera_nodes_;
};

std::string skipped_faces(const FaceCounts &counts)
{
    std::vector<std::string> parts;
    if (counts.points > 0)
        parts.push_back(plural(counts.points, "point", "points"));
    if (counts.lines > 0)
        parts.push_back(plural(counts.lines, "line", "lines"));
    if (counts.empty_meshes > 0)
        parts.push_back(plural(counts.empty_meshes, "empty mesh", "empty meshes"));
    if (counts.untriangulated > 0)
        parts.push_back(plural(counts.untriangulated, "polygon without area or with crossing edges",
                               "polygons without area or with crossing edges"));
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

// A glTF camera states its vertical field of view and sits at its node's
// origin. Assimp 5.2's glTF reader hands over the vertical angle times the
// aspect (1 where there is none) as the horizontal one, and also copies the
// node's translation into the camera's position, which would place it
// twice; for glTF both are undone.
SceneCamera read_camera(const aiCamera &camera, std::size_t index, const Affine &transform, bool gltf)
{
    SceneCamera read;
    read.name = name_of(camera.mName, "camera", index);
    read.eye = transform.point(gltf ? DVec3{} : to_double(camera.mPosition));
    read.direction = normalized(transform.vector(to_double(camera.mLookAt)));
    read.horizontal_fov = camera.mHorizontalFOV;
    read.aspect = std::isfinite(camera.mAspect) && camera.mAspect > 0.0f ? camera.mAspect : 0.0f;
    if (gltf && camera.mHorizontalFOV > 0.0f)
        read.vertical_fov = camera.mHorizontalFOV / (read.aspect > 0.0f ? read.aspect : 1.0f);
    return read;
}

// A file Assimp reads, opened by the scene's folder; nothing is written.
class FolderStream : public Assimp::IOStream {
public:
    explicit FolderStream(std::FILE *file) : file_(file) {}
    ~FolderStream() override { std::fclose(file_); }

    std::size_t Read(void *buffer, std::size_t size, std::size_t count) override
    {
        return std::fread(buffer, size, count, file_);
    }
    std::size_t Write(const void *, std::size_t, std::size_t) override { return 0; }
    aiReturn Seek(std::size_t offset, aiOrigin origin) override
    {
        const int whence = origin == aiOrigin_SET ? SEEK_SET : origin == aiOrigin_CUR ? SEEK_CUR : SEEK_END;
        // An offset back from the current place or the end comes as its two's complement.
        return fseeko(file_, static_cast<off_t>(offset), whence) == 0 ? aiReturn_SUCCESS : aiReturn_FAILURE;
    }
    std::size_t Tell() const override { return static_cast<std::size_t>(ftello(file_)); }
    std::size_t FileSize() const override
    {
        struct stat status {};
        return fstat(fileno(file_), &status) == 0 ? static_cast<std::size_t>(status.st_size) : 0;
    }
    void Flush() override {}

private:
    std::FILE *file_;
};

// Assimp's access to files: only for reading, only what the scene's folder
// allows.
class FolderIOSystem : public Assimp::IOSystem {
public:
    explicit FolderIOSystem(SceneFolder &folder) : folder_(folder) {}

    bool Exists(const char *file) const override { return folder_.exists(file); }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream *Open(const char *file, const char *mode) override
    {
        if (std::strpbrk(mode, "wa+"))
            return nullptr;
        const int fd = folder_.open(file);
        std::FILE *stream = fd < 0 ? nullptr : fdopen(fd, "rb");
        if (!stream) {
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
        return new FolderStream(stream);
    }
    void Close(Assimp::IOStream *stream) override { delete stream; }
    bool CreateDirectory(const std::string &) override { return false; }
    bool ChangeDirectory(const std::string &) override { return false; }
    bool DeleteFile(const std::string &) override { return false; }

private:
    SceneFolder &folder_;
};

}  // namespace

Camera SceneCamera::view(float image_aspect) const
{
    const std::string what = "camera \"" + name + "\"";
    if (horizontal_fov == 0.0f)
        throw std::invalid_argument(what + " is orthographic; umbrex-render renders pinhole cameras only");
    const double camera_aspect = aspect > 0.0f ? aspect : image_aspect;
    const double vertical = vertical_fov > 0.0f ? vertical_fov
                                                : 2.0 * std::atan(std::tan(0.5 * horizontal_fov) / camera_aspect);
    if (!(horizontal_fov > 0.0f && horizontal_fov < pi && vertical > 0.0 && vertical < pi))
        throw std::invalid_argument(what + " has a field of view that is not between 0 and 180 degrees");
    if (!is_finite(eye) || !is_finite(direction) || length(direction) == 0.0)
        throw std::invalid_argument(what + " has no finite position and direction");
    // A target one unit away, or farther where the eye's own coordinates are
    // too coarse for one unit.
    const double reach = 1.0 + std::max({std::abs(eye.x), std::abs(eye.y), std::abs(eye.z)}) * 1e-6;
    return {eye, eye + direction * reach, static_cast<float>(vertical * 180.0 / pi)};
}

ImportedScene convert_scene(const aiScene &scene, const std::string &source)
{
    ImportedScene imported;
    imported.format = metadata_text(scene.mMetaData, AI_METADATA_SOURCE_FORMAT);
    read_units_and_up(scene, imported, source);

    Flattener flattener(scene, source);
    flattener.run();
    const std::string skipped = skipped_faces(flattener.counts);
    if (flattener.triangles.triangles.empty())
        throw SceneError(source + ": the scene has no triangles" + (skipped.empty() ? "" : " (only " + skipped + ")"));
    imported.loaded.mesh = make_traceable_mesh(std::move(flattener.triangles), source);
    imported.loaded.meshes = flattener.meshes();
    if (!skipped.empty())
        imported.loaded.warnings.push_back(source + ": skipped " + skipped + "; only triangles are rendered");

    for (unsigned i = 0; i < scene.mNumCameras && scene.mCameras; ++i) {
        if (scene.mCameras[i])
            imported.cameras.push_back(read_camera(*scene.mCameras[i], i,
                                                   flattener.camera_transform(scene.mCameras[i]->mName),
                                                   starts_with(imported.format, "glTF2")));
    }
    return imported;
}

ImportedScene import_scene_with_assimp(const std::string &path)
{
    SceneFolder folder(path);
    Assimp::Importer importer;
    importer.SetIOHandler(new FolderIOSystem(folder));  // the importer deletes it
    // Assimp's own check of what its reader built comes first, before any
    // other step touches it; polygons are then split by ear clipping in
    // their own plane, and the conversion checks every index again.
    const aiScene *scene =
        importer.ReadFile(folder.scene_file(), aiProcess_ValidateDataStructure | aiProcess_Triangulate);
    // The check refuses a mesh without vertices or faces (a point cloud, an
    // empty solid), which the conversion skips and counts: such a file is
    // read again without it. Whatever else is wrong with it can then only
    // end this process.
    const std::string refused = importer.GetErrorString();
    if (!scene && (refused.find(" contains no faces") != std::string::npos ||
                   refused.find(" contains no vertices") != std::string::npos))
        scene = importer.ReadFile(folder.scene_file(), aiProcess_Triangulate);
    if (!scene) {
        // A reference refused is why the reader gave up, more likely than not.
        if (!folder.refusals().empty())
            throw SceneError(path + ": " + folder.refusals().front());
        throw SceneError(path + ": " + first_line(importer.GetErrorString(), "not a scene file Assimp can read"));
    }
    ImportedScene imported = convert_scene(*scene, path);
    folder.add_warnings(imported.loaded.warnings, path);
    return imported;
}

ImportedScene import_scene(const std::string &path)
{
    if (lowercase_extension(path) != ".obj")
        return import_scene_with_assimp(path);
    ImportedScene imported;
    imported.loaded = load_obj(path);
    imported.format = "Wavefront OBJ";
    return imported;
}
