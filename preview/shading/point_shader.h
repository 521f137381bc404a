// One thread's calls of the shader at points of the traced scene: the state
// the shader sees, set up as at a camera hit, and the thread's probe tracer.
// Rendering calls it where camera rays hit; baking where texels and vertices
// lie on the surface.
#ifndef UMBREX_PREVIEW_POINT_SHADER_H
#define UMBREX_PREVIEW_POINT_SHADER_H

#include <atomic>
#include <cstdint>
#include <vector>

#include "preview/shading/shader_loader.h"
#include "preview/shading/shading_state.h"
#include "preview/shading/surface_normals.h"

// A point on a triangle of the frame's mesh, relative to its origin.
struct SurfacePoint {
    std::uint32_t triangle;
    Vec3 point;
    SurfaceNormals normals;
    float distance;  // of the ray that found it, as the state's dist
};

class PointShader {
public:
    // The frame scene and the shader record must outlive this; when a log is
    // given, every probe traced is appended to it; once `cancel` (when given)
    // turns true, every shading call ends at its next sample.
    PointShader(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                std::vector<ProbeRay> *probe_log = nullptr, const std::atomic<bool> *cancel = nullptr);
    PointShader(const PointShader &) = delete;  // the state points into itself
    PointShader &operator=(const PointShader &) = delete;

    // The shader's result at the point, as an eye ray's, its samples
    // decorrelated by the seed.
    miColor shade(const SurfacePoint &at, std::uint32_t seed);

    std::uint64_t probe_rays() const { return s_.probe_rays; }

private:
    const LoadedShader &shader_;
    const FrameScene &frame_;
    ProbeTracer probes_;
    ShadingState s_{};
};

#endif
