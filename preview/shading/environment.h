// What a ray that leaves the scene sees: a sky gradient, a constant colour,
// or a latitude-longitude HDR image.
#ifndef UMBREX_PREVIEW_ENVIRONMENT_H
#define UMBREX_PREVIEW_ENVIRONMENT_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "preview/scene/vec3.h"

struct EnvironmentError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A latitude-longitude image: +Y up, its left edge toward -Z turning to +X.
class LatLongImage {
public:
    // Reads a Radiance HDR file.
    explicit LatLongImage(const std::string &path);
    miColor lookup(Vec3 direction) const;

private:
    int width_ = 0, height_ = 0;
    std::vector<float> rgb_;
};

class Environment {
public:
    static Environment sky();
    static Environment constant(const miColor &colour);
    static Environment image(const std::string &path);

    // The colour along a direction of any length; black for a zero or
    // non-finite one.
    miColor lookup(Vec3 direction) const;

private:
    enum class Kind { sky, constant, image } kind_ = Kind::sky;
    miColor colour_{};
    std::shared_ptr<const LatLongImage> image_;
};

#endif
