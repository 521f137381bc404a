#include "preview/shading/environment.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>

LatLongImage::LatLongImage(const std::string &path)
{
    int channels = 0;
    float *pixels = stbi_loadf(path.c_str(), &width_, &height_, &channels, 3);
    if (!pixels)
        throw EnvironmentError(path + ": cannot read the HDR image (" + stbi_failure_reason() + ")");
    rgb_.assign(pixels, pixels + static_cast<std::size_t>(width_) * height_ * 3);
    stbi_image_free(pixels);
}

miColor LatLongImage::lookup(Vec3 d) const
{
    constexpr float pi = 3.14159265358979f;
    const Vec3 n = normalized(d);
    const float longitude = std::atan2(n.x, -n.z);                   // -pi .. pi
    const float latitude = std::acos(std::clamp(n.y, -1.0f, 1.0f));  // 0 at the zenith
    const int column = std::clamp(static_cast<int>((longitude / (2.0f * pi) + 0.5f) * width_), 0, width_ - 1);
    const int row = std::clamp(static_cast<int>(latitude / pi * height_), 0, height_ - 1);
    const float *texel = &rgb_[(static_cast<std::size_t>(row) * width_ + column) * 3];
    return {texel[0], texel[1], texel[2], 1.0f};
}

Environment Environment::sky()
{
    return Environment{};
}

Environment Environment::constant(const miColor &colour)
{
    Environment e;
    e.kind_ = Kind::constant;
    e.colour_ = colour;
    return e;
}

Environment Environment::image(const std::string &path)
{
    Environment e;
    e.kind_ = Kind::image;
    e.image_ = std::make_shared<const LatLongImage>(path);
    return e;
}

miColor Environment::lookup(Vec3 direction) const
{
    const float l = length(direction);
    if (!(l > 0.0f) || !std::isfinite(l))
        return {0.0f, 0.0f, 0.0f, 1.0f};
    switch (kind_) {
    case Kind::constant:
        return colour_;
    case Kind::image:
        return image_->lookup(direction);
    case Kind::sky:
        break;
    }
    // A pale horizon deepening to blue at the zenith over a warm grey ground.
    const float up = direction.y / l;
    if (up < 0.0f) {
        const float t = std::min(1.0f, -up * 4.0f);
        return {0.55f - 0.2f * t, 0.5f - 0.2f * t, 0.45f - 0.2f * t, 1.0f};
    }
    const float t = std::sqrt(up);
    return {0.95f - 0.65f * t, 0.95f - 0.45f * t, 1.0f - 0.1f * t, 1.0f};
}
