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
#include <set>
#include <stdexcept>

#include "preview/printable_text.h"
#include "preview/scene/counted_words.h"
#include "preview/scene/polygon_triangulation.h"
#include "preview/scene/reader_gaps.h"
#include "preview/scene/skinning.h"
#include "preview/scene/scene_folder.h"
#include "preview/value_parsing.h"

namespace {

constexpr double pi = 3.14159265358979323846;

DVec3 to_double(const aiVector3D &v) { return {v.x, v.y, v.z}; }

std::string name_of(const aiString &name, const char *kind, std::size_t index)
{
    return name.length > 0 ? std::string(name.C_Str()) : std::string(kind) + " " + std::to_string(index + 1);
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
// Y-up in metres by definition; the Collada and IFC importers turn the
// file's up axis to Y and scale its unit to metres in the root node; the 3DS
// importer turns the file's Z-up to Y; FBX states both in its global
// settings; 3MF is Z-up by definition, and its model states its unit (read
// from the package, as the importer keeps none).
void read_units_and_up(const aiScene &scene, ImportedScene &imported, const std::string &source, SceneFolder *folder)
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
    } else if (starts_with(imported.format, "Industry Foundation Classes")) {
        imported.units_per_metre = 1.0;
        imported.units_note = "the importer converts the file's length unit to metres";
        imported.up = UpAxis::y;
        imported.up_note = "the importer turns IFC's Z-up to Y";
    } else if (starts_with(imported.format, "Discreet 3DS")) {
        imported.up = UpAxis::y;
        imported.up_note = "the importer turns 3DS's Z-up to Y";
    } else if (starts_with(imported.format, "3mf")) {
        imported.up = UpAxis::z;
        imported.up_note = "3MF is Z-up";
        const std::string unit = folder ? read_3mf_unit(*folder) : std::string();
        const std::optional<double> per_metre = units_per_metre_of_3mf(unit);
        if (per_metre) {
            imported.units_per_metre = per_metre;
            imported.units_note = "the model's unit, " + unit;
        } else if (!unit.empty()) {
            imported.loaded.warnings.push_back(source + ": the model's unit \"" + unit +
                                               "\" is not one of 3MF's; --scale states the units");
        }
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
        constexpr UpAxis plus[] = {UpAxis::x, UpAxis::y, UpAxis::z};
        constexpr UpAxis minus[] = {UpAxis::minus_x, UpAxis::minus_y, UpAxis::minus_z};
        if (axis && (*axis == 0.0 || *axis == 1.0 || *axis == 2.0) && (!sign || *sign == 1.0 || *sign == -1.0)) {
            imported.up = (sign && *sign < 0.0 ? minus : plus)[static_cast<int>(*axis)];
            imported.up_note = "the file's UpAxis";
        } else if (axis) {
            char stated[64];
            std::snprintf(stated, sizeof stated, "UpAxis %g, sign %g", *axis, sign ? *sign : 1.0);
            imported.loaded.warnings.push_back(source + ": the file's up axis (" + stated +
                                               ") is not an axis; taking +Y unless --up says otherwise");
        }
    }
}

struct FaceCounts {
    std::size_t points = 0, lines = 0, untriangulated = 0, empty_meshes = 0;
};

// How many of the nodes that place a mesh are named in its summary.
constexpr std::size_t max_node_names = 8;

// Assimp's stand-in for a file without meshes: a mesh of its node hierarchy
// drawn as a skeleton (bones for every node), with a material of this name.
bool is_skeleton_placeholder(const aiScene &scene, const aiMesh &mesh)
{
    if (mesh.mNumBones == 0 || !scene.mMaterials || mesh.mMaterialIndex >= scene.mNumMaterials ||
        !scene.mMaterials[mesh.mMaterialIndex])
        return false;
    aiString name;
    return scene.mMaterials[mesh.mMaterialIndex]->Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS &&
           std::strcmp(name.C_Str(), "SkeletonMaterial") == 0;
}

class Flattener {
public:
    Flattener(const aiScene &scene, const std::string &source, const MeshChoice &choice)
        : scene_(scene), source_(source), choice_(choice)
    {
        MeshSummary unplaced;
        unplaced.placements = 0;
        summaries_.resize(scene.mMeshes ? scene.mNumMeshes : 0, unplaced);
        for (unsigned i = 0; i < summaries_.size(); ++i)
            skinned_ = skinned_ || (scene.mMeshes[i] && scene.mMeshes[i]->mNumBones > 0);
        for (unsigned i = 0; i < scene.mNumCameras && scene.mCameras; ++i) {
            if (scene.mCameras[i])
                camera_nodes_.emplace(scene.mCameras[i]->mName.C_Str(), std::nullopt);
        }
    }

    void run()
    {
        if (!scene_.mRootNode)
            throw SceneError(source_ + ": the file holds no scene");
        // Every node's placement first, so that a skinned mesh finds its
        // joints wherever in the hierarchy they lie; depth first without
        // recursion, so that no hierarchy is too deep.
        std::vector<std::pair<std::size_t, const aiNode *>> pending = {{0, scene_.mRootNode}};
        while (!pending.empty()) {
            const auto [parent, node] = pending.back();
            pending.pop_back();
            const Affine local = Affine::from(node->mTransformation);
            visits_.push_back({node, visits_.empty() ? local : visits_[parent].transform * local, parent});
            if (skinned_)
                joints_.emplace(node->mName.C_Str(), visits_.back().transform);
            for (unsigned i = node->mNumChildren; i-- > 0 && node->mChildren;) {
                if (node->mChildren[i])
                    pending.push_back({visits_.size() - 1, node->mChildren[i]});
            }
        }
        for (std::size_t v = 0; v < visits_.size(); ++v) {
            const Visit &visit = visits_[v];
            const auto camera = camera_nodes_.find(visit.node->mName.C_Str());
            if (camera != camera_nodes_.end() && !camera->second)
                camera->second = visit.transform;
            for (unsigned i = 0; i < visit.node->mNumMeshes && visit.node->mMeshes; ++i)
                place(visit.node->mMeshes[i], v);
        }
    }

    SceneTriangles triangles;
    FaceCounts counts;
    std::size_t placeholder_nodes = 0;  // bones of Assimp's skeleton stand-in

    std::vector<MeshSummary> meshes() const
    {
        std::vector<MeshSummary> placed;
        for (const MeshSummary &summary : summaries_) {
            if (summary.placements + summary.hidden > 0 && summary.triangles > 0)
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

    Affine root_transform() const { return visits_.empty() ? Affine{} : visits_.front().transform; }

private:
    struct Visit {
        const aiNode *node;
        Affine transform;    // in the scene
        std::size_t parent;  // the root is its own
    };

    // The names a --hide or --only pattern may match: the mesh's, its node's
    // and every ancestor's.
    bool shown(const MeshSummary &summary, std::size_t visit) const
    {
        if (choice_.hide.empty() && choice_.only.empty())
            return true;
        std::vector<std::string> names = {summary.name};
        for (std::size_t v = visit;; v = visits_[v].parent) {
            names.push_back(visits_[v].node->mName.C_Str());
            if (v == 0)
                break;
        }
        return choice_.shows(names);
    }

    void place(unsigned index, std::size_t visit)
    {
        const aiNode *node = visits_[visit].node;
        if (index >= summaries_.size() || !scene_.mMeshes[index])
            throw SceneError(source_ + ": node \"" + node->mName.C_Str() + "\" places mesh " +
                             std::to_string(index + 1) + ", which does not exist");
        const aiMesh &mesh = *scene_.mMeshes[index];
        if (is_skeleton_placeholder(scene_, mesh)) {
            placeholder_nodes = std::max<std::size_t>(placeholder_nodes, mesh.mNumBones);
            return;
        }
        MeshSummary &summary = summaries_[index];
        if (summary.name.empty())
            summary.name = mesh.mName.length > 0 ? std::string(mesh.mName.C_Str())
                           : node->mName.length > 0 ? std::string(node->mName.C_Str())
                                                    : "mesh " + std::to_string(index + 1);
        if (summary.nodes.size() < max_node_names)
            summary.nodes.push_back(node->mName.C_Str());
        if (!shown(summary, visit)) {
            ++summary.hidden;
            // As many triangles as its faces would give, until a shown placement counts them.
            const bool first = summary.placements == 0 && summary.hidden == 1;
            for (unsigned f = 0; first && f < mesh.mNumFaces && mesh.mFaces; ++f)
                summary.triangles += mesh.mFaces[f].mNumIndices > 2 ? mesh.mFaces[f].mNumIndices - 2 : 0;
            return;
        }
        ++summary.placements;
        if (mesh.mNumVertices == 0 || !mesh.mVertices || mesh.mNumFaces == 0 || !mesh.mFaces) {
            // A mesh of vertices alone is a point cloud.
            if (mesh.mNumVertices > 0 && mesh.mVertices)
                counts.points += mesh.mNumVertices;
            else
                ++counts.empty_meshes;
            return;
        }
        constexpr std::size_t index_limit = std::numeric_limits<std::uint32_t>::max();
        const std::size_t base = triangles.positions.size();
        if (base + mesh.mNumVertices >= index_limit)
            throw SceneError(source_ + ": the scene has more than " + std::to_string(index_limit) +
                             " vertices once every node's meshes are placed");

        // A skinned mesh is placed by its skeleton, each vertex by its own
        // transform; any other by its node's.
        const Affine &transform = visits_[visit].transform;
        try {
            skin_ = mesh.mNumBones > 0 ? skinned_vertex_transforms(mesh, transform, joints_, summary.name)
                                       : std::vector<Affine>();
        } catch (const SceneError &fault) {
            throw SceneError(source_ + ": " + fault.what());
        }
        const auto placing = [&](unsigned vertex) -> const Affine & {
            return skin_.empty() ? transform : skin_[vertex];
        };
        for (unsigned v = 0; v < mesh.mNumVertices; ++v)
            triangles.positions.push_back(placing(v).point(to_double(mesh.mVertices[v])));
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
            // A mirroring transform would turn the face: keep the winding the file meant.
            const bool mirrored = placing(face.mIndices[0]).determinant() < 0.0;
            for (CornerTriangle t : split) {
                if (mirrored)
                    std::swap(t[1], t[2]);
                add_triangle(mesh, face, t, corners, placing, base);
                for (const std::size_t corner : t)
                    summary.enclose(corners[corner]);
            }
        }
        if (summary.placements == 1)
            summary.triangles = triangles.triangles.size() - triangles_before;
    }

    template <typename Placing>
    void add_triangle(const aiMesh &mesh, const aiFace &face, const CornerTriangle &t,
                      const std::vector<DVec3> &corners, const Placing &placing, std::size_t base)
    {
        const DVec3 a = corners[t[0]], b = corners[t[1]], c = corners[t[2]];
        const Vec3 face_normal = to_float(normalized(cross(b - a, c - a)));
        std::array<Vec3, 3> normals = {face_normal, face_normal, face_normal};
        std::array<std::uint32_t, 3> triangle;
        for (int k = 0; k < 3; ++k) {
            const unsigned vertex = face.mIndices[t[k]];
            triangle[k] = static_cast<std::uint32_t>(base + vertex);
            if (mesh.mNormals) {
                const Vec3 n = to_float(placing(vertex).normal(to_double(mesh.mNormals[vertex])));
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
    const MeshChoice &choice_;
    std::vector<MeshSummary> summaries_;
    std::map<std::string, std::optional<Affine>> camera_nodes_;
    std::vector<Visit> visits_;  // depth first, the root first
    bool skinned_ = false;       // whether any mesh has bones
    JointPlacements joints_;     // then each node's transform, by name; the first of a name
    std::vector<Affine> skin_;   // the mesh being placed's, per vertex, when skinned
};

std::string skipped_faces(const FaceCounts &counts)
{
    std::vector<std::string> parts;
    count_in(parts, counts.points, "point", "points");
    count_in(parts, counts.lines, "line", "lines");
    count_in(parts, counts.empty_meshes, "empty mesh", "empty meshes");
    count_in(parts, counts.untriangulated, "polygon without area or with crossing edges",
             "polygons without area or with crossing edges");
    return listed(parts);
}

// What a file without triangles holds instead.
std::string holdings(const aiScene &scene, const FaceCounts &counts, std::size_t skeleton_nodes)
{
    std::vector<std::string> parts;
    count_in(parts, counts.points, "point", "points");
    count_in(parts, counts.lines, "line", "lines");
    count_in(parts, scene.mNumCameras, "camera", "cameras");
    count_in(parts, scene.mNumLights, "light", "lights");
    if (skeleton_nodes > 0)
        parts.push_back(scene.mNumAnimations > 0 ? "a skeleton of " + plural(skeleton_nodes, "joint", "joints")
                                                 : plural(skeleton_nodes, "node", "nodes"));
    count_in(parts, counts.empty_meshes, "empty mesh", "empty meshes");
    parts.push_back(counts.untriangulated > 0
                        ? plural(counts.untriangulated, "polygon", "polygons") + " without area or with crossing edges"
                        : std::string("no faces"));
    return listed(parts);
}

enum class CameraPlacement { node, gltf, discreet_3ds };

// How a reader places a camera. A camera's own position and direction lie
// in its node's frame, but two readers also copy the camera's placement into
// them. glTF's copies the node's translation into the position (and hands
// over the vertical angle times the aspect, 1 where there is none, as the
// horizontal one): the camera stands at its node's origin. 3DS's keeps the
// editor's position and target, in the file's own frame, and places the
// node there too (the keyframer's first key); once the camera is animated
// it points it along +Z and drops the target. A 3DS camera is taken from
// its editor chunk, as the file states it, turned by the root alone.
SceneCamera read_camera(const aiCamera &camera, std::size_t index, const Affine &transform, const Affine &root,
                        CameraPlacement placement, const std::map<std::string, StatedCamera> &stated)
{
    SceneCamera read;
    read.name = name_of(camera.mName, "camera", index);
    read.eye = transform.point(placement == CameraPlacement::gltf ? DVec3{} : to_double(camera.mPosition));
    read.direction = normalized(transform.vector(to_double(camera.mLookAt)));
    if (placement == CameraPlacement::discreet_3ds) {
        const auto found = stated.find(camera.mName.C_Str());
        const StatedCamera file = found != stated.end()
                                      ? found->second
                                      : StatedCamera{to_double(camera.mPosition),
                                                     to_double(camera.mPosition) + to_double(camera.mLookAt)};
        read.eye = root.point(file.eye);
        read.direction = normalized(root.vector(file.target - file.eye));
    }
    read.horizontal_fov = camera.mHorizontalFOV;
    read.aspect = std::isfinite(camera.mAspect) && camera.mAspect > 0.0f ? camera.mAspect : 0.0f;
    if (placement == CameraPlacement::gltf && camera.mHorizontalFOV > 0.0f)
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

void require_triangles(const ImportedScene &scene, const std::string &name)
{
    if (scene.loaded.mesh.triangles.empty())
        throw SceneError(name + ": no geometry to render: the file holds " +
                         (scene.holds.empty() ? std::string("no triangles") : scene.holds));
}

ImportedScene convert_scene(const aiScene &scene, const std::string &source, const MeshChoice &choice,
                            SceneFolder *folder)
{
    ImportedScene imported;
    imported.format = metadata_text(scene.mMetaData, AI_METADATA_SOURCE_FORMAT);
    read_units_and_up(scene, imported, source, folder);

    Flattener flattener(scene, source, choice);
    flattener.run();
    imported.loaded.meshes = flattener.meshes();
    const std::string skipped = skipped_faces(flattener.counts);
    if (flattener.triangles.triangles.empty()) {
        for (const MeshSummary &summary : imported.loaded.meshes) {
            if (summary.hidden > 0)
                throw SceneError(source + ": --hide and --only leave no triangles to render");
        }
        imported.holds = holdings(scene, flattener.counts, flattener.placeholder_nodes);
    } else {
        imported.loaded.mesh = make_traceable_mesh(std::move(flattener.triangles), source);
        if (!skipped.empty())
            imported.loaded.warnings.push_back(source + ": skipped " + skipped + "; only triangles are rendered");
        if (scene.mFlags & AI_SCENE_FLAGS_INCOMPLETE)
            imported.loaded.warnings.push_back(source + ": the reader read the file only in part");
    }
    for (const std::string &unmatched : choice.unmatched())
        imported.loaded.warnings.push_back(source + ": " + unmatched);

    const CameraPlacement placement = starts_with(imported.format, "glTF2")          ? CameraPlacement::gltf
                                      : starts_with(imported.format, "Discreet 3DS") ? CameraPlacement::discreet_3ds
                                                                                     : CameraPlacement::node;
    std::map<std::string, StatedCamera> stated;
    if (placement == CameraPlacement::discreet_3ds && folder && scene.mNumCameras > 0)
        stated = read_3ds_cameras(*folder);
    const std::set<std::string> orthographic =
        starts_with(imported.format, "Collada") && folder && scene.mNumCameras > 0
            ? read_collada_orthographic_nodes(*folder)
            : std::set<std::string>();
    for (unsigned i = 0; i < scene.mNumCameras && scene.mCameras; ++i) {
        if (!scene.mCameras[i])
            continue;
        imported.cameras.push_back(read_camera(*scene.mCameras[i], i,
                                               flattener.camera_transform(scene.mCameras[i]->mName),
                                               flattener.root_transform(), placement, stated));
        if (orthographic.count(scene.mCameras[i]->mName.C_Str()))
            imported.cameras.back().horizontal_fov = 0.0f;  // orthographic
    }
    return imported;
}

ImportedScene import_scene_with_assimp(const std::string &path, const MeshChoice &choice)
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
        // Assimp reads a Quake 3 level from its .pk3 package alone, and says
        // it cannot open a bare one.
        if (lowercase_extension(path) == ".bsp")
            throw SceneError(path + ": a .bsp level is read from inside its .pk3 package, which holds what it "
                                    "refers to; give the .pk3 as the scene");
        throw SceneError(path + ": " + first_line(importer.GetErrorString(), "not a scene file Assimp can read"));
    }
    ImportedScene imported = convert_scene(*scene, path, choice, &folder);
    folder.add_warnings(imported.loaded.warnings, path);
    return imported;
}

ImportedScene import_scene(const std::string &path, const MeshChoice &choice)
{
    if (lowercase_extension(path) != ".obj")
        return import_scene_with_assimp(path, choice);
    ImportedScene imported;
    imported.loaded = load_obj(path, choice, &imported.holds);
    imported.format = "Wavefront OBJ";
    return imported;
}
