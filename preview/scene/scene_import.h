// Scenes from the files artists and pipelines have: glTF 2.0, FBX, Collada,
// PLY, STL, 3DS and the rest that Assimp reads, and Wavefront OBJ, read by
// tinyobjloader because it loads large OBJ files faster in less memory.
#ifndef UMBREX_PREVIEW_SCENE_IMPORT_H
#define UMBREX_PREVIEW_SCENE_IMPORT_H

#include <optional>
#include <string>
#include <vector>

#include "preview/scene/camera.h"
#include "preview/scene/mesh.h"

struct aiScene;
class SceneFolder;

// A camera as the file has it, placed by its node, in the scene's own
// coordinates.
struct SceneCamera {
    std::string name;
    DVec3 eye;
    DVec3 direction;               // unit
    float horizontal_fov = 0.0f;   // radians, the whole angle; 0 for an orthographic camera
    float aspect = 0.0f;           // width / height, 0 where the file leaves it to the image
    float vertical_fov = 0.0f;     // radians, where the file states it rather than the horizontal one

    // The pinhole view: the vertical field of view from the camera's own
    // aspect, or from the image's where the camera has none. Throws
    // std::invalid_argument for a camera that cannot be rendered as a pinhole.
    Camera view(float image_aspect) const;
};

struct ImportedScene {
    LoadedScene loaded;
    std::string format;
    std::vector<SceneCamera> cameras;
    std::optional<UpAxis> up;               // where the file states it
    std::string up_note;                    // where that comes from
    std::optional<double> units_per_metre;  // where the file states it
    std::string units_note;
    // For a file without triangles (whose mesh is then empty): what it
    // holds instead, "22,300 points and no faces", "3 cameras and 4 nodes
    // and no faces". Empty where there are triangles.
    std::string holds;
};

// Throws SceneError naming `name` for a scene without triangles, saying what
// the file holds instead.
void require_triangles(const ImportedScene &scene, const std::string &name);

// Reads any scene file in this process, and of the files it refers to only
// those its folder allows (see SceneFolder); throws SceneError naming the
// file and the fault. The program reads scene files apart, through
// import_scene_apart, which runs this in a process of its own.
ImportedScene import_scene(const std::string &path, const MeshChoice &choice = {});

// Reads any scene file through Assimp, OBJ included, after Assimp's own
// check of what its reader built.
ImportedScene import_scene_with_assimp(const std::string &path, const MeshChoice &choice = {});

// The node hierarchy of an Assimp scene flattened into one mesh: each node's
// meshes copied through its accumulated transform (a skinned mesh's
// vertices through their joints'), normals through the inverse transpose,
// the file's normals where it has them and the face's own otherwise, and
// every UV set as the file has it; points, lines and empty meshes counted
// in a warning, Assimp's skeleton stand-in for a file without meshes left
// out, and the placements `choice` hides left out. A scene without
// triangles comes back with an empty mesh and what it holds. With the
// scene's folder, what the reader dropped is read from the file itself
// (reader_gaps.h). Throws SceneError naming `source` for a face that refers
// to a vertex that does not exist, a placed vertex that is not finite or
// out of reach, or a choice that hides every triangle.
ImportedScene convert_scene(const aiScene &scene, const std::string &source, const MeshChoice &choice = {},
                            SceneFolder *folder = nullptr);

#endif
