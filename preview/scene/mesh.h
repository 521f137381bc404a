// The preview host's scene: one triangle mesh with a normal and texture
// coordinates at each corner, held near the origin in single precision, with
// the offset that puts it back where the scene file has it.
#ifndef UMBREX_PREVIEW_MESH_H
#define UMBREX_PREVIEW_MESH_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "preview/scene/vec3.h"

// A texture coordinate: u across the texture, v up it (v = 0 is the image's
// bottom row).
struct TexCoord {
    float u = 0.0f, v = 0.0f;
};

// One UV set: a triple per triangle, (0, 0) at every corner of a triangle
// the file gives no coordinates in that set.
using UVSet = std::vector<std::array<TexCoord, 3>>;

struct Mesh {
    std::vector<Vec3> positions;                          // relative to origin
    std::vector<std::array<std::uint32_t, 3>> triangles;  // indices into positions
    std::vector<std::array<Vec3, 3>> corner_normals;      // one triple per triangle
    std::vector<UVSet> uv_sets;                           // none when the file has no texture coordinates
    DVec3 origin;  // where the positions' zero lies in the scene's own coordinates

    // Appends another mesh of the same origin, its indices shifted past this
    // one's vertices; a UV set that only one of them has gets (0, 0) corners
    // for the other's triangles.
    void append(const Mesh &other);
};

// Puts every UV set's coordinates, taken as lying in the unit square, into
// the rectangle from (u, v) of the given size: laying parts out side by side
// in one texture.
void place_uvs(Mesh &mesh, float u, float v, float width, float height);

struct Bounds {
    Vec3 low, high;
    Vec3 centre() const { return (low + high) * 0.5f; }
};

// The bounds of the vertices that triangles use, relative to the origin.
Bounds bounds_of(const Mesh &mesh);

// How far from the scene's centre a vertex may lie, and a ray may start: the
// ray tracer takes coordinates up to about 1.8e18, and a camera framing the
// scene stands a few times its size away.
constexpr double max_scene_reach = 1e17;
constexpr double max_ray_origin = 1e18;

// Triangles as a scene file gives them, in its own coordinates.
struct SceneTriangles {
    std::vector<DVec3> positions;
    std::vector<std::array<std::uint32_t, 3>> triangles;  // indices into positions
    std::vector<std::array<Vec3, 3>> corner_normals;      // one triple per triangle
    std::vector<UVSet> uv_sets;                           // as the mesh's
};

// The mesh to trace: only the vertices that triangles use, moved in double
// precision so that the centre of their bounds is the origin; the scene's
// per-triangle data moves over as it is. Throws SceneError naming `source`
// for a vertex that is not finite or lies beyond max_scene_reach.
Mesh make_traceable_mesh(SceneTriangles scene, const std::string &source);

// A scene that cannot be read; what() names the file and the fault.
struct SceneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One mesh of a scene file, the nodes that place it, and the bounds of its
// placements that are shown.
struct MeshSummary {
    std::string name;           // the file's, else its first node's, else "mesh N"
    std::size_t triangles = 0;  // in one placement
    std::size_t placements = 1; // shown
    std::size_t hidden = 0;     // placements left out by --hide and --only
    std::vector<std::string> nodes;  // the first few nodes that place it, as the file names them
    DVec3 low{1.0, 1.0, 1.0}, high{-1.0, -1.0, -1.0};  // in the scene's own coordinates; low above
                                                       // high where none is shown

    // Widens the bounds to hold a point.
    void enclose(DVec3 p)
    {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
};

// Which meshes are left out of the scene: a placement is left out where a
// --hide pattern, or where no --only pattern (when there are any), matches
// its mesh's name, its node's or an ancestor node's. `*` matches any run of
// characters.
struct MeshChoice {
    std::vector<std::string> hide, only;

    bool shows(const std::vector<std::string> &names) const;
    // Patterns that matched no name given to shows(), as a warning for each.
    std::vector<std::string> unmatched() const;

private:
    mutable std::vector<bool> hide_matched_, only_matched_;
};

bool matches_pattern(const std::string &pattern, const std::string &name);

// A scene as read, with its meshes and what the reader had to leave out.
struct LoadedScene {
    Mesh mesh;
    std::vector<std::string> warnings;
    std::vector<MeshSummary> meshes;
};

// A Wavefront OBJ, every polygon triangulated in its own shape: its vertex
// normals where every corner of a face has one, the face's own normal
// otherwise. Faces that cannot be triangulated are skipped and counted in a
// warning; objects the choice leaves out are not read. A file without faces
// gives an empty mesh, and `holds` (where given) says what it has instead:
// "4 vertices, 1 line and no faces".
LoadedScene load_obj(const std::string &path, const MeshChoice &choice = {}, std::string *holds = nullptr);

// Shapes for built scenes, each with one UV set: the ground's square over the
// whole texture, the sphere's longitude along u and latitude up v, the box's
// six faces side by side in three columns and two rows.
Mesh make_ground(float half_size);
Mesh make_sphere(Vec3 centre, float radius, int segments, int rings);
Mesh make_box(Vec3 centre, Vec3 half_extent, float turn_about_y);

// A ground with objects resting on it and on each other: contact shadows,
// creases and open ground in one view. Its six parts' UVs are laid out side
// by side in one texture.
Mesh make_default_scene();

#endif
