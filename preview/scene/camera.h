// A pinhole camera, +Y up, its field of view vertical.
#ifndef UMBREX_PREVIEW_CAMERA_H
#define UMBREX_PREVIEW_CAMERA_H

#include <string>

#include "preview/scene/mesh.h"

struct Camera {
    Vec3 eye;
    Vec3 target;
    float fov_degrees = 40.0f;
};

// The camera's rays for an image of a given size, its view worked out once.
class CameraRays {
public:
    CameraRays(const Camera &camera, int width, int height);

    // The unit direction through image position (x, y), in pixels from the
    // top left corner.
    Vec3 direction(double x, double y) const;

private:
    Vec3 forward_, right_, up_;
    float half_width_, half_height_;
    int width_, height_;
};

// The built-in scene's camera.
Camera default_scene_camera();

// A camera looking at the middle of the bounds from above and in front, far
// enough back for all of them to fit the view.
Camera framing_camera(const Bounds &bounds, float aspect);

// Parses eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees; throws
// std::invalid_argument naming the fault.
Camera parse_camera(const std::string &text);

#endif
