#include "preview/scene/skinning.h"

#include <assimp/mesh.h>

#include <cmath>

#include "preview/scene/mesh.h"

std::vector<Affine> skinned_vertex_transforms(const aiMesh &mesh, const Affine &node, const JointPlacements &joints,
                                              const std::string &mesh_name)
{
    std::vector<Affine> blended(mesh.mNumVertices, Affine::zero());
    std::vector<double> total(mesh.mNumVertices, 0.0);
    bool posed = false;
    for (unsigned b = 0; b < mesh.mNumBones && mesh.mBones; ++b) {
        const aiBone *bone = mesh.mBones[b];
        if (!bone)
            continue;
        const auto joint = joints.find(bone->mName.C_Str());
        if (joint == joints.end())
            continue;
        const Affine skin = joint->second * Affine::from(bone->mOffsetMatrix);
        for (unsigned w = 0; w < bone->mNumWeights && bone->mWeights; ++w) {
            const aiVertexWeight &weight = bone->mWeights[w];
            if (weight.mVertexId >= mesh.mNumVertices)
                throw SceneError("bone \"" + std::string(bone->mName.C_Str()) + "\" of mesh \"" + mesh_name +
                                 "\" weighs vertex " + std::to_string(weight.mVertexId + 1) + " of " +
                                 std::to_string(mesh.mNumVertices));
            if (!(std::isfinite(weight.mWeight) && weight.mWeight > 0.0f))
                continue;
            blended[weight.mVertexId].add(skin, weight.mWeight);
            total[weight.mVertexId] += weight.mWeight;
            posed = true;
        }
    }
    if (!posed)
        return {};
    // Weights that do not add up to one are taken in proportion.
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        if (total[v] > 0.0) {
            Affine mean = Affine::zero();
            mean.add(blended[v], 1.0 / total[v]);
            blended[v] = mean;
        } else {
            blended[v] = node;
        }
    }
    return blended;
}
