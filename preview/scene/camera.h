// A pinhole camera with a vertical field of view, in the scene's own
// coordinates, and which axis of the scene points up.
#ifndef UMBREX_PREVIEW_CAMERA_H
#define UMBREX_PREVIEW_CAMERA_H

#include <cstdint>
#include <string>

#include "preview/scene/mesh.h"

// Which way the scene's up points: an axis and its sign.
enum class UpAxis : std::uint8_t { y, z, x, minus_x, minus_y, minus_z };

// As --up takes it and --list shows it: "y", "+z", "-x"; the parser throws
// std::invalid_argument naming the option for anything else.
UpAxis parse_up_axis(const std::string &text);
std::string up_axis_name(UpAxis up);  // "+Y", "-Z"
bool is_up_axis(UpAxis up);           // one of the six

// Directions between the scene's frame and the frame whose +Y is up, in which
// the environment and its images are laid out, by a turn that takes the
// scene's up to +Y: +Z up turns to +Y up and the scene's -Y (toward a Z-up
// camera) to +Z; -Y turns about X; +X and -X turn about Z.
Vec3 to_y_up(Vec3 direction, UpAxis up);
Vec3 from_y_up(Vec3 direction, UpAxis up);
DVec3 to_y_up_precisely(DVec3 direction, UpAxis up);  // the same in double precision

struct Camera {
    DVec3 eye;
    DVec3 target;
    float fov_degrees = 40.0f;
};

// The camera's rays for an image of a given size, its view worked out once,
// relative to the mesh's origin.
class CameraRays {
public:
    CameraRays(const Camera &camera, const DVec3 &origin, UpAxis up, int width, int height);

    // Where the rays start, relative to the origin.
    Vec3 eye() const { return eye_; }

    // The unit direction through image position (x, y), in pixels from the
    // top left corner.
    Vec3 direction(double x, double y) const;

private:
    Vec3 eye_, forward_, right_, up_;
    float half_width_, half_height_;
    int width_, height_;
};

// The built-in scene's camera.
Camera default_scene_camera();

// A camera looking at the middle of the bounds (relative to the origin) from
// above and in front, far enough back for all of them to fit the view.
Camera framing_camera(const Bounds &bounds, const DVec3 &origin, float aspect, UpAxis up);
Camera framing_camera(const Mesh &mesh, float aspect, UpAxis up);

// Parses eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees; throws
// std::invalid_argument naming the fault.
Camera parse_camera(const std::string &text);

// Throws std::invalid_argument, naming the camera as `what`, when the
// camera's eye lies too far from the mesh to start a ray from.
void check_camera_reach(const Camera &camera, const Mesh &mesh, const std::string &what = "--camera");

#endif
