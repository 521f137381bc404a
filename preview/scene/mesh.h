// The preview host's scene: one triangle mesh with a normal at each corner.
#ifndef UMBREX_PREVIEW_MESH_H
#define UMBREX_PREVIEW_MESH_H

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "preview/scene/vec3.h"

struct Mesh {
    std::vector<Vec3> positions;
    std::vector<std::array<std::uint32_t, 3>> triangles;  // indices into positions
    std::vector<std::array<Vec3, 3>> corner_normals;      // one triple per triangle

    // Appends another mesh, its indices shifted past this one's vertices.
    void append(const Mesh &other);
};

struct Bounds {
    Vec3 low, high;
    Vec3 centre() const { return (low + high) * 0.5f; }
};

Bounds bounds_of(const Mesh &mesh);

// A scene that cannot be read; what() names the file and the fault.
struct SceneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A Wavefront OBJ, triangulated: its vertex normals where every corner of a
// face has one, the face's own normal otherwise.
Mesh load_obj(const std::string &path);

// Shapes for built scenes.
Mesh make_ground(float half_size);
Mesh make_sphere(Vec3 centre, float radius, int segments, int rings);
Mesh make_box(Vec3 centre, Vec3 half_extent, float turn_about_y);

// A ground with objects resting on it and on each other: contact shadows,
// creases and open ground in one view.
Mesh make_default_scene();

#endif
