// umbrex-render --serve: a page on the loopback address where a lighting
// artist changes the shader's parameters and the camera and sees the scene
// re-rendered, first coarse, then in passes whose samples add up. Only the page opened with the
// printed address (its token) drives it, and no request can take more than
// its share of the machine.
#ifndef UMBREX_PREVIEW_LOOK_DEV_SERVER_H
#define UMBREX_PREVIEW_LOOK_DEV_SERVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "preview/page/render_admission.h"
#include "preview/render/preview_session.h"

constexpr int default_look_dev_port = 8765;

struct LookDevSettings {
    std::string listen;  // empty: 127.0.0.1 and ::1 only
    int port = default_look_dev_port;  // 0: any free one
    int threads = 1;
    // Work a render may ask for: pixels x camera rays per pixel x samples.
    std::uint64_t max_work = default_max_work;
    // The page's starting look, as the command line gave it.
    int width = 640, height = 360, camera_rays = 1;
    std::uint32_t seed = 0;
    int pass_samples = 0;  // 0: the page picks the passes' size
    std::vector<std::string> sets, attachments;
    // The program and its scene options, the start of a copied command.
    std::vector<std::string> scene_arguments;
};

// Serves the page until SIGINT or SIGTERM; returns the exit code. Prints the
// page's address, with the session's token, on standard output once it is
// listening.
int serve_look_dev(const PreviewSession &session, const LookDevSettings &settings);

#endif
