// Scenes of a chosen size for the throughput and scale measurements: a bumpy
// terrain with spheres resting on it.
#ifndef UMBREX_BENCH_SCENES_H
#define UMBREX_BENCH_SCENES_H

#include <cstddef>
#include <string>

#include "preview/scene/mesh.h"

// About `triangles` triangles, four fifths terrain, the rest four spheres.
Mesh make_bench_scene(std::size_t triangles);

// Writes the mesh as a Wavefront OBJ (positions and faces).
void write_obj(const Mesh &mesh, const std::string &path);

#endif
