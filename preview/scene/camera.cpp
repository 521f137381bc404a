#include "preview/scene/camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "preview/value_parsing.h"

namespace {

constexpr float degrees = 3.14159265358979f / 180.0f;

// The turn that takes the scene's up to +Y, as its rows.
template <typename T>
Vector3<T> turned(Vector3<T> d, UpAxis up)
{
    switch (up) {
    case UpAxis::z: return {d.x, d.z, -d.y};
    case UpAxis::minus_z: return {d.x, -d.z, d.y};
    case UpAxis::minus_y: return {d.x, -d.y, -d.z};
    case UpAxis::x: return {-d.y, d.x, d.z};
    case UpAxis::minus_x: return {d.y, -d.x, d.z};
    default: return d;
    }
}

Vec3 up_vector(UpAxis up)
{
    return from_y_up(Vec3{0.0f, 1.0f, 0.0f}, up);
}

constexpr const char *up_axis_names[] = {"+Y", "+Z", "+X", "-X", "-Y", "-Z"};

}  // namespace

UpAxis parse_up_axis(const std::string &text)
{
    const std::string axis = text.empty() || (text[0] != '+' && text[0] != '-') ? text : text.substr(1);
    const bool minus = !text.empty() && text[0] == '-';
    if (axis == "x" || axis == "X")
        return minus ? UpAxis::minus_x : UpAxis::x;
    if (axis == "y" || axis == "Y")
        return minus ? UpAxis::minus_y : UpAxis::y;
    if (axis == "z" || axis == "Z")
        return minus ? UpAxis::minus_z : UpAxis::z;
    throw std::invalid_argument("--up takes x, y or z with an optional sign (+z, -y), not \"" + text + "\"");
}

std::string up_axis_name(UpAxis up)
{
    return is_up_axis(up) ? up_axis_names[static_cast<int>(up)] : "?";
}

bool is_up_axis(UpAxis up)
{
    return static_cast<std::size_t>(up) < std::size(up_axis_names);
}

Vec3 to_y_up(Vec3 d, UpAxis up)
{
    return turned(d, up);
}

DVec3 to_y_up_precisely(DVec3 d, UpAxis up)
{
    return turned(d, up);
}

Vec3 from_y_up(Vec3 d, UpAxis up)
{
    // The inverse turn: the turn's transpose, read off its image of each axis.
    const Vec3 x = turned(Vec3{1, 0, 0}, up), y = turned(Vec3{0, 1, 0}, up), z = turned(Vec3{0, 0, 1}, up);
    return {x.x * d.x + x.y * d.y + x.z * d.z, y.x * d.x + y.y * d.y + y.z * d.z, z.x * d.x + z.y * d.y + z.z * d.z};
}

CameraRays::CameraRays(const Camera &camera, const DVec3 &origin, UpAxis up, int width, int height)
    : eye_(to_float(camera.eye - origin)),
      forward_(to_float(normalized(camera.target - camera.eye))),
      width_(width),
      height_(height)
{
    right_ = normalized(cross(forward_, up_vector(up)));
    if (length(right_) == 0.0f)  // looking straight up or down: the scene's x as the up turns it
        right_ = from_y_up(Vec3{1.0f, 0.0f, 0.0f}, up);
    up_ = cross(right_, forward_);
    half_height_ = std::tan(camera.fov_degrees * degrees * 0.5f);
    half_width_ = half_height_ * static_cast<float>(width) / static_cast<float>(height);
}

Vec3 CameraRays::direction(double x, double y) const
{
    const auto sx = static_cast<float>((x / width_) * 2.0 - 1.0);
    const auto sy = static_cast<float>(1.0 - (y / height_) * 2.0);
    return normalized(forward_ + right_ * (sx * half_width_) + up_ * (sy * half_height_));
}

Camera default_scene_camera()
{
    return {{4.4, 4.8, 6.2}, {0.5, 0.2, 0.1}, 36.0f};
}

Camera framing_camera(const Mesh &mesh, float aspect, UpAxis up)
{
    return framing_camera(bounds_of(mesh), mesh.origin, aspect, up);
}

Camera framing_camera(const Bounds &bounds, const DVec3 &origin, float aspect, UpAxis up)
{
    Camera camera;
    camera.fov_degrees = 40.0f;
    const Vec3 target = bounds.centre();
    const Vec3 forward = from_y_up(-normalized(Vec3{0.55f, 0.45f, 1.0f}), up);
    const Vec3 right = normalized(cross(forward, up_vector(up)));
    const Vec3 camera_up = cross(right, forward);
    const float tan_vertical = std::tan(camera.fov_degrees * degrees * 0.5f);
    const float tan_horizontal = tan_vertical * aspect;

    // Back far enough along the view for every corner of the bounds to fit.
    float distance = 1e-3f;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec3 c = Vec3{corner & 1 ? bounds.high.x : bounds.low.x, corner & 2 ? bounds.high.y : bounds.low.y,
                            corner & 4 ? bounds.high.z : bounds.low.z} - target;
        const float depth = dot(c, forward);
        distance = std::max({distance, std::abs(dot(c, right)) / tan_horizontal - depth,
                             std::abs(dot(c, camera_up)) / tan_vertical - depth});
    }
    camera.target = origin + to_double(target);
    camera.eye = camera.target - to_double(forward * (distance * 1.05f));
    return camera;
}

Camera parse_camera(const std::string &text)
{
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos)
        throw std::invalid_argument("--camera: expected eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees");
    const auto eye = parse_doubles(text.substr(0, first), 3, "--camera: the eye");
    const auto target = parse_doubles(text.substr(first + 1, second - first - 1), 3, "--camera: the target");
    const auto fov = parse_floats(text.substr(second + 1), 1, "--camera: the field of view");
    Camera camera{{eye[0], eye[1], eye[2]}, {target[0], target[1], target[2]}, fov[0]};
    if (!(camera.fov_degrees > 0.0f && camera.fov_degrees < 180.0f))
        throw std::invalid_argument("--camera: the field of view must lie between 0 and 180 degrees");
    const double distance = length(camera.target - camera.eye);
    if (!std::isfinite(distance))
        throw std::invalid_argument("--camera: the eye and the target are too far apart to aim between them");
    if (distance == 0.0)
        throw std::invalid_argument("--camera: the eye and the target are the same point");
    return camera;
}

void check_camera_reach(const Camera &camera, const Mesh &mesh, const std::string &what)
{
    const DVec3 eye = camera.eye - mesh.origin;
    if (std::max({std::abs(eye.x), std::abs(eye.y), std::abs(eye.z)}) <= max_ray_origin)
        return;
    char text[160];
    std::snprintf(text, sizeof text, ": the eye lies %g units from the scene's centre; rays can start at most %g away",
                  length(eye), max_ray_origin);
    throw std::invalid_argument(what + text);
}
