// Scenes of a chosen size for the throughput and scale measurements: a bumpy
// terrain with spheres resting on it; and the scene of the bake comparison.
#ifndef UMBREX_BENCH_SCENES_H
#define UMBREX_BENCH_SCENES_H

#include <cstddef>
#include <string>

#include "preview/scene/mesh.h"

// About `triangles` triangles, four fifths terrain, the rest four spheres.
Mesh make_bench_scene(std::size_t triangles);

// The bake comparison's scene: a ground subdivided into 102 by 102 squares
// with a sphere resting on it and a box just above it, 23028 triangles, their UVs laid
// out side by side in one texture (the ground on the left three fifths, the
// sphere and the box's six faces on the right).
Mesh make_bake_scene();

// Writes the mesh as a Wavefront OBJ (positions and faces, and the first UV
// set if asked).
void write_obj(const Mesh &mesh, const std::string &path, bool with_uvs = false);

#endif
