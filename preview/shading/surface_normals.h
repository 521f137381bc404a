// The normals a host hands the shader at a point a camera ray hits.
#ifndef UMBREX_PREVIEW_SURFACE_NORMALS_H
#define UMBREX_PREVIEW_SURFACE_NORMALS_H

#include "preview/scene/vec3.h"

struct SurfaceNormals {
    Vec3 geometric;  // unit, facing the incoming ray
    Vec3 shading;    // unit, on the geometric normal's side, facing the viewer
};

// From the triangle's normal (any length, either side), the normal the mesh's
// corners interpolate to (any length; zero or not finite for none), and the
// incoming ray's unit direction.
//
// The geometric normal is turned toward the viewer, and the shading normal to
// the geometric normal's side, never on its own toward the viewer: at an
// outline that would turn it into the object. Where an interpolated normal
// bends so far from the viewer that the view's mirror reflection about it
// would point into the surface, it is bent back until that reflection lies
// just above the surface: the valid-reflection correction of production path
// tracers. Its hemisphere then stays open over an open surface.
SurfaceNormals facing_normals(Vec3 geometric, Vec3 interpolated, Vec3 direction);

#endif
