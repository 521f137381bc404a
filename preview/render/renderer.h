// Rendering a frame: a camera ray through each pixel (or several, jittered),
// the shader called at every visible point, tiles shared among threads.
#ifndef UMBREX_PREVIEW_RENDERER_H
#define UMBREX_PREVIEW_RENDERER_H

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "preview/available_memory.h"
#include "preview/scene/camera.h"
#include "preview/render/image_output.h"
#include "preview/shading/shader_loader.h"
#include "preview/shading/shading_state.h"

struct RenderSettings {
    int width = 640;
    int height = 360;
    UpAxis up = UpAxis::y;
    int camera_rays = 1;  // per pixel; more are jittered over the pixel and averaged
    int threads = 1;
    // Picks the frame's sample pattern: another seed, another pattern as good.
    std::uint32_t seed = 0;
    // Which pass of a frame rendered in passes: each has a pattern of its
    // own, pass 0 the seed's.
    std::uint32_t pass = 0;
    bool show_progress = false;
    // When set, and once it turns true, the frame stops within a bundle of
    // camera rays: every few milliseconds of work at most.
    const std::atomic<bool> *cancel = nullptr;
    // When set, one log per thread receives every probe traced.
    std::vector<std::vector<ProbeRay>> *probe_logs = nullptr;
};

struct FrameStatistics {
    std::uint64_t probe_rays = 0;
    double seconds = 0.0;
    int threads = 0;                  // that rendered; fewer than asked when some could not start
    bool cancelled = false;           // stopped before every tile was rendered
    std::string thread_start_fault;   // why not, then
};

// A frame that cannot be rendered: what() says why.
struct RenderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the frame's shading calls share: the tracer, the environment, the
// parameter record with its attachments (which must outlive the frame), and
// which way the scene's up points.
FrameScene make_frame_scene(const RayTracer &tracer, const Environment &environment,
                            const ParameterRecord &record, const std::vector<Attachment> &attachments,
                            UpAxis up);

// Bytes a frame of that size takes while it renders and is encoded: the
// floats rendered, and as much again at most for the image made from them.
std::uint64_t frame_memory(int width, int height);

// Says how much memory a frame of that size needs when that is more than
// `available`; nothing when it fits.
std::string frame_memory_fault(int width, int height, std::uint64_t available);

// Throws RenderError when that many bytes are more than is available:
// "WHAT needs N GiB of memory, and M GiB is available".
void check_memory(std::uint64_t needed, const std::string &what);

// Throws RenderError, saying how much memory the frame needs, when a frame
// of that size will not fit in the memory this machine has available.
void check_frame_fits(int width, int height);

// Renders with the shader, whose parameter record and attachments the frame
// scene points to. Pixels no camera ray hits stay (0, 0, 0, 0). The calling
// thread renders too; threads that cannot be started are left out, as the
// statistics tell. Throws RenderError when the image does not fit in memory.
Image render_frame(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                   const Camera &camera, const RenderSettings &settings, FrameStatistics &statistics);

#endif
