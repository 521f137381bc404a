// What a scene file states that Assimp 5.2's readers drop, read from the
// file itself in the importer's process: a 3MF model's unit, a 3DS camera's
// position and target (its reader keeps the target only while the camera is
// not animated), and which Collada cameras are orthographic (its reader
// makes them pinholes whose field of view is the width in degrees). Both read a bounded part of the file, through the
// scene's folder, and give nothing where the file is not as expected.
#ifndef UMBREX_PREVIEW_READER_GAPS_H
#define UMBREX_PREVIEW_READER_GAPS_H

#include <map>
#include <optional>
#include <set>
#include <string>

#include "preview/scene/vec3.h"

class SceneFolder;

// The `unit` attribute of a 3MF package's model ("millimeter" where the
// model states none, as the format defines); empty where the package or its
// model cannot be read.
std::string read_3mf_unit(SceneFolder &folder);

// Scene units per metre of a 3MF unit name; none for a name the format
// does not define.
std::optional<double> units_per_metre_of_3mf(const std::string &unit);

// A 3DS camera as its editor chunk states it, in the file's own frame.
struct StatedCamera {
    DVec3 eye, target;
};

// The 3DS file's cameras by name.
std::map<std::string, StatedCamera> read_3ds_cameras(SceneFolder &folder);

// The names of the nodes (by id and by name) that hold an orthographic
// camera of a Collada file.
std::set<std::string> read_collada_orthographic_nodes(SceneFolder &folder);

#endif
