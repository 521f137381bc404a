// The conversion between Assimp's scene structure and the mesh that Embree
// traces, on whatever structure an importer might hand over: meshes with
// faces of any corner count and indices out of range, positions, normals and
// texture coordinates that are NaN or infinite, nodes with any transform
// placing meshes that may not exist, bones skinning them from nodes that may
// not exist, cameras on any node, and a format's units and up axis in the
// metadata. A bad scene must come out as
// SceneError; a converted one must hold only finite points, in-range
// indices and a normal triple and a UV triple in each set per triangle, its
// UV sets must lay out over a texture with every covered texel point owned
// by a triangle there and weighted finitely, and its cameras must give a
// usable view or say why not.

#include <assimp/commonMetaData.h>
#include <assimp/scene.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "preview/bake/uv_layout.h"
#include "preview/scene/scene_import.h"

namespace {

aiVector3D vector(FuzzedDataProvider &input)
{
    const float x = input.ConsumeFloatingPoint<float>();
    const float y = input.ConsumeFloatingPoint<float>();
    const float z = input.ConsumeFloatingPoint<float>();
    return {x, y, z};
}

// Mostly small whole coordinates, so that faces have area; sometimes any float.
aiVector3D position(FuzzedDataProvider &input)
{
    if (input.ConsumeIntegralInRange(0, 7) == 0)
        return vector(input);
    const auto x = static_cast<float>(input.ConsumeIntegralInRange(-4, 4));
    const auto y = static_cast<float>(input.ConsumeIntegralInRange(-4, 4));
    const auto z = static_cast<float>(input.ConsumeIntegralInRange(-4, 4));
    return {x, y, z};
}

aiMatrix4x4 transform(FuzzedDataProvider &input);

aiMesh *make_mesh(FuzzedDataProvider &input)
{
    auto *mesh = new aiMesh;
    mesh->mName = "mesh";
    mesh->mNumVertices = input.ConsumeIntegralInRange(0u, 12u);
    if (mesh->mNumVertices > 0) {
        mesh->mVertices = new aiVector3D[mesh->mNumVertices];
        for (unsigned i = 0; i < mesh->mNumVertices; ++i)
            mesh->mVertices[i] = position(input);
        if (input.ConsumeBool()) {
            mesh->mNormals = new aiVector3D[mesh->mNumVertices];
            for (unsigned i = 0; i < mesh->mNumVertices; ++i)
                mesh->mNormals[i] = vector(input);
        }
        if (input.ConsumeBool()) {
            // Mostly within the texture, sometimes any float.
            const unsigned set = input.ConsumeIntegralInRange(0u, 2u);
            mesh->mTextureCoords[set] = new aiVector3D[mesh->mNumVertices];
            for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
                const aiVector3D p = position(input);
                mesh->mTextureCoords[set][i] = {p.x * 0.25f + 0.5f, p.y * 0.25f + 0.5f, 0.0f};
            }
        }
    }
    // Bones named for nodes that may not exist, weighing vertices that may
    // not either, with any weight and offset.
    mesh->mNumBones = mesh->mNumVertices > 0 ? input.ConsumeIntegralInRange(0u, 2u) : 0u;
    if (mesh->mNumBones > 0) {
        mesh->mBones = new aiBone *[mesh->mNumBones];
        for (unsigned b = 0; b < mesh->mNumBones; ++b) {
            auto *bone = mesh->mBones[b] = new aiBone;
            bone->mName = "node" + std::to_string(input.ConsumeIntegralInRange(0u, 8u));
            bone->mOffsetMatrix = transform(input);
            bone->mNumWeights = input.ConsumeIntegralInRange(1u, 4u);
            bone->mWeights = new aiVertexWeight[bone->mNumWeights];
            for (unsigned w = 0; w < bone->mNumWeights; ++w)
                bone->mWeights[w] = {input.ConsumeIntegralInRange(0u, mesh->mNumVertices),
                                     input.ConsumeBool() ? 0.5f : input.ConsumeFloatingPoint<float>()};
        }
    }
    mesh->mNumFaces = input.ConsumeIntegralInRange(0u, 12u);
    if (mesh->mNumFaces > 0) {
        mesh->mFaces = new aiFace[mesh->mNumFaces];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            aiFace &face = mesh->mFaces[f];
            face.mNumIndices = input.ConsumeIntegralInRange(0u, 5u);
            if (face.mNumIndices > 0 && input.ConsumeIntegralInRange(0, 15) != 0) {
                face.mIndices = new unsigned[face.mNumIndices];
                for (unsigned c = 0; c < face.mNumIndices; ++c)
                    face.mIndices[c] = input.ConsumeIntegralInRange(0u, mesh->mNumVertices + 1);
            }
        }
    }
    return mesh;
}

aiMatrix4x4 transform(FuzzedDataProvider &input)
{
    aiMatrix4x4 m;
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        break;  // identity
    case 1:
        m.a4 = static_cast<float>(input.ConsumeIntegralInRange(-10, 10));
        m.a1 = input.ConsumeBool() ? -1.0f : 2.0f;
        break;
    default:
        for (unsigned r = 0; r < 4; ++r) {
            for (unsigned c = 0; c < 4; ++c)
                m[r][c] = input.ConsumeFloatingPoint<float>();
        }
        break;
    }
    return m;
}

void check(const ImportedScene &scene)
{
    const Mesh &mesh = scene.loaded.mesh;
    if (mesh.triangles.empty() != !scene.holds.empty() || mesh.corner_normals.size() != mesh.triangles.size() ||
        !is_finite(mesh.origin))
        std::abort();
    for (const MeshSummary &summary : scene.loaded.meshes) {
        if (!is_finite(summary.low) || !is_finite(summary.high))
            std::abort();
    }
    for (const Vec3 &p : mesh.positions) {
        if (!is_finite(p))
            std::abort();
    }
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        for (int c = 0; c < 3; ++c) {
            if (mesh.triangles[t][c] >= mesh.positions.size() || !is_finite(mesh.corner_normals[t][c]))
                std::abort();
        }
    }
    for (const UVSet &set : mesh.uv_sets) {
        if (set.size() != mesh.triangles.size())
            std::abort();
    }
    for (std::size_t k = 0; k < mesh.uv_sets.size(); ++k) {
        const UVLayout layout(mesh, k, 7, 5);
        TexelPoint points[7 * 5];
        std::uint32_t owners[7 * 5];
        bool shared[7 * 5];
        for (int i = 0; i < 7 * 5; ++i)
            points[i] = {i % 7 + 0.5, i / 7 + 0.5};
        layout.cover(0, points, 1, owners, shared);
        for (int i = 0; i < 7 * 5; ++i) {
            if (owners[i] == uncovered)
                continue;
            if (owners[i] >= mesh.triangles.size())
                std::abort();
            for (const double w : layout.weights(owners[i], points[i])) {
                if (!std::isfinite(w))
                    std::abort();
            }
        }
    }
    for (const SceneCamera &camera : scene.cameras) {
        try {
            const Camera view = camera.view(1.5f);
            if (!is_finite(view.eye) || !is_finite(view.target) || !(view.fov_degrees > 0.0f) ||
                !(view.fov_degrees < 180.0f))
                std::abort();
        } catch (const std::invalid_argument &) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    aiScene scene;

    const unsigned mesh_count = input.ConsumeIntegralInRange(0u, 4u);
    if (mesh_count > 0) {
        scene.mNumMeshes = mesh_count;
        scene.mMeshes = new aiMesh *[mesh_count];
        for (unsigned i = 0; i < mesh_count; ++i)
            scene.mMeshes[i] = make_mesh(input);
    }

    // A tree of nodes: each new node hangs under one made before it.
    std::vector<aiNode *> nodes;
    const unsigned node_count = input.ConsumeIntegralInRange(1u, 8u);
    for (unsigned i = 0; i < node_count; ++i) {
        auto *node = new aiNode("node" + std::to_string(i));
        node->mTransformation = transform(input);
        node->mNumMeshes = input.ConsumeIntegralInRange(0u, 3u);
        if (node->mNumMeshes > 0) {
            node->mMeshes = new unsigned[node->mNumMeshes];
            for (unsigned m = 0; m < node->mNumMeshes; ++m)
                node->mMeshes[m] = input.ConsumeIntegralInRange(0u, mesh_count);
        }
        if (!nodes.empty())
            nodes[input.ConsumeIntegralInRange<std::size_t>(0, nodes.size() - 1)]->addChildren(1, &node);
        nodes.push_back(node);
    }
    scene.mRootNode = nodes.front();

    const unsigned camera_count = input.ConsumeIntegralInRange(0u, 2u);
    if (camera_count > 0) {
        scene.mNumCameras = camera_count;
        scene.mCameras = new aiCamera *[camera_count];
        for (unsigned i = 0; i < camera_count; ++i) {
            auto *camera = new aiCamera;
            camera->mName = "node" + std::to_string(input.ConsumeIntegralInRange(0u, node_count));
            camera->mPosition = vector(input);
            camera->mLookAt = vector(input);
            camera->mHorizontalFOV = input.ConsumeFloatingPoint<float>();
            camera->mAspect = input.ConsumeFloatingPoint<float>();
            scene.mCameras[i] = camera;
        }
    }

    if (input.ConsumeBool()) {
        static const char *const formats[] = {"glTF2 Importer", "Autodesk FBX Importer", "Collada Importer",
                                              "Discreet 3DS Importer", "3mf Importer", ""};
        scene.mMetaData = aiMetadata::Alloc(4);
        scene.mMetaData->Set(0, AI_METADATA_SOURCE_FORMAT, aiString(formats[input.ConsumeIntegralInRange(0, 5)]));
        scene.mMetaData->Set(1, "UnitScaleFactor", input.ConsumeFloatingPoint<double>());
        scene.mMetaData->Set(2, "UpAxis", input.ConsumeIntegral<int32_t>());
        scene.mMetaData->Set(3, "UpAxisSign", input.ConsumeIntegralInRange<int32_t>(-1, 1));
    }

    try {
        check(convert_scene(scene, "fuzz"));
    } catch (const SceneError &) {
    }
    return 0;
}
