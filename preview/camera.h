// A pinhole camera, +Y up, its field of view vertical.
#ifndef UMBREX_PREVIEW_CAMERA_H
#define UMBREX_PREVIEW_CAMERA_H

#include <string>

#include "preview/scene.h"

struct Camera {
    Vec3 eye;
    Vec3 target;
    float fov_degrees = 40.0f;

    // The unit direction through image position (x, y), in pixels from the top
    // left corner, of an image width by height.
    Vec3 ray_direction(double x, double y, int width, int height) const;
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
