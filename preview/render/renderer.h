// Rendering a frame: a camera ray through each pixel (or several, jittered),
// the shader called at every visible point, tiles shared among threads.
#ifndef UMBREX_PREVIEW_RENDERER_H
#define UMBREX_PREVIEW_RENDERER_H

#include <cstdint>
#include <vector>

#include "preview/scene/camera.h"
#include "preview/render/image_output.h"
#include "preview/shading/shader_loader.h"
#include "preview/shading/shading_state.h"

struct RenderSettings {
    int width = 640;
    int height = 360;
    int camera_rays = 1;  // per pixel; more are jittered over the pixel and averaged
    int threads = 1;
    bool show_progress = false;
    // When set, one log per thread receives every probe traced.
    std::vector<std::vector<ProbeRay>> *probe_logs = nullptr;
};

struct FrameStatistics {
    std::uint64_t probe_rays = 0;
    double seconds = 0.0;
};

// What the frame's shading calls share: the tracer, the environment, the
// parameter record with its attachments (which must outlive the frame), and
// a self-hit offset scaled to the scene's coordinates.
FrameScene make_frame_scene(const RayTracer &tracer, const Environment &environment,
                            const ParameterRecord &record, const std::vector<Attachment> &attachments);

// Renders with the shader, whose parameter record and attachments the frame
// scene points to. Pixels no camera ray hits stay (0, 0, 0, 0).
Image render_frame(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                   const Camera &camera, const RenderSettings &settings, FrameStatistics &statistics);

#endif
