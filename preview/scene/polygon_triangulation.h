// Splitting a scene file's polygons into triangles that keep their shape.
#ifndef UMBREX_PREVIEW_POLYGON_TRIANGULATION_H
#define UMBREX_PREVIEW_POLYGON_TRIANGULATION_H

#include <array>
#include <cstddef>
#include <vector>

#include "preview/scene/vec3.h"

using CornerTriangle = std::array<std::size_t, 3>;  // indices into a polygon's corners

// The triangles of a polygon whose corners are given in order, by ear
// clipping in the plane of its Newell normal: concave polygons, and rings
// written as one face with a doubled bridge edge, keep their outline.
// Corners in a straight line are dropped. Returns no triangle for a polygon
// without area or one whose edges cross so that no ear can be cut.
std::vector<CornerTriangle> triangulate_polygon(const std::vector<DVec3> &corners);

#endif
