// The mesh written with a colour per vertex through Assimp's exporter: glTF
// 2.0 binary (.glb, the colours as COLOR_0, linear) or PLY (.ply, ASCII,
// red, green, blue and alpha in bytes, sRGB-encoded as an 8-bit PNG's),
// each with the mesh's normals and UV sets. A file appears whole or not at
// all.
#ifndef UMBREX_PREVIEW_VERTEX_EXPORT_H
#define UMBREX_PREVIEW_VERTEX_EXPORT_H

#include <optional>
#include <string>
#include <vector>

#include "preview/render/image_output.h"
#include "preview/scene/camera.h"
#include "preview/scene/mesh.h"

// Fails early, before any baking, for a path that cannot be written: an
// extension other than .glb or .ply, or a folder that does not take the file.
void check_vertex_output(const std::string &path);

// Writes the mesh in the scene's own coordinates, with one colour per
// position. glTF is Y-up in metres, so a glTF file gets the scene turned
// from Z-up when `up` is z, and scaled to metres where the units are known.
void write_vertex_colours(const Mesh &mesh, const std::vector<miColor> &colours, PixelMeaning meaning,
                          const std::string &path, UpAxis up, std::optional<double> units_per_metre);

#endif
