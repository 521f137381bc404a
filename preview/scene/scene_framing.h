// What the framing camera frames, and how far the shader's probes should
// reach, from the scene's meshes: helper geometry (light cones, wake planes,
// ground planes of a few triangles reaching far past the model) is set aside
// from the framing, though it still shows and occludes.
#ifndef UMBREX_PREVIEW_SCENE_FRAMING_H
#define UMBREX_PREVIEW_SCENE_FRAMING_H

#include <string>
#include <vector>

#include "preview/scene/mesh.h"

struct Framing {
    Bounds bounds;  // relative to the mesh's origin
    std::vector<std::string> set_aside;  // the meshes left out of the bounds

    // The diagonal of the bounds, in scene units.
    double size() const;
};

// The meshes holding at least 1 % of the shown triangles each frame the
// scene; a mesh holding less is set aside where it would more than double
// the diagonal of their bounds. Without such a core every mesh frames it.
Framing frame_scene(const Mesh &mesh, const std::vector<MeshSummary> &meshes);

// A falloff_stop that suits a scene of that size: a tenth of it, to one
// significant digit.
double suited_reach(double scene_size);

#endif
