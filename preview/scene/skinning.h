// Skinned meshes posed by their skeleton: each vertex moved by the weighted
// transforms of the joints that hold it, as a viewer shows the file at rest.
#ifndef UMBREX_PREVIEW_SKINNING_H
#define UMBREX_PREVIEW_SKINNING_H

#include <map>
#include <string>
#include <vector>

#include "preview/scene/affine.h"

struct aiMesh;

// Where each joint stands: its node's transform in the scene, by name.
using JointPlacements = std::map<std::string, Affine>;

// One transform per vertex of a mesh with bones: the weighted mean of
// (joint's placement times the bone's offset, its inverse bind matrix) over
// the bones that hold the vertex. A vertex no bone holds keeps `node`, the
// transform of the node that places the mesh; a bone whose joint no node
// names, or a weight that is not a positive number, counts for nothing.
// Empty when no bone places any vertex. Throws SceneError naming `mesh_name`
// for a weight on a vertex that does not exist.
std::vector<Affine> skinned_vertex_transforms(const aiMesh &mesh, const Affine &node, const JointPlacements &joints,
                                              const std::string &mesh_name);

#endif
