// A pinhole camera with a vertical field of view, in the scene's own
// coordinates, and which axis of the scene points up.
#ifndef UMBREX_PREVIEW_CAMERA_H
#define UMBREX_PREVIEW_CAMERA_H

#include <string>

#include "preview/scene/mesh.h"

enum class UpAxis { y, z };

// Directions between the scene's frame and the frame whose +Y is up, in which
// the environment and its images are laid out: +Z up turns to +Y up, and
// the scene's -Y (toward a Z-up camera) to +Z.
Vec3 to_y_up(Vec3 direction, UpAxis up);
Vec3 from_y_up(Vec3 direction, UpAxis up);

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

// A camera looking at the middle of the mesh from above and in front, far
// enough back for all of it to fit the view.
Camera framing_camera(const Mesh &mesh, float aspect, UpAxis up);

// Parses eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees; throws
// std::invalid_argument naming the fault.
Camera parse_camera(const std::string &text);

// Throws std::invalid_argument when the camera's eye lies too far from the
// mesh to start a ray from.
void check_camera_reach(const Camera &camera, const Mesh &mesh);

#endif
