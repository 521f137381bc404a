#include "preview/render/image_output.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "preview/value_parsing.h"

namespace {

enum class Format { png, exr };

Format format_of(const std::string &path)
{
    const std::string extension = lowercase_extension(path);
    if (extension == ".png")
        return Format::png;
    if (extension == ".exr")
        return Format::exr;
    throw ImageOutputError(path + ": the output must end in .png or .exr");
}

// The name the image is written under before it takes its own.
std::string partial_path(const std::string &path)
{
    const std::filesystem::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + ".partial-" + std::to_string(getpid()))).string();
}

std::uint8_t to_byte(float value)
{
    if (!(value > 0.0f))  // negative or NaN
        return 0;
    return static_cast<std::uint8_t>(std::lround(std::min(value, 1.0f) * 255.0f));
}

float srgb_encode(float linear)
{
    if (!(linear > 0.0f))
        return 0.0f;
    return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

// Colours are premultiplied by their alpha, as rendered (a pixel half
// covered holds half its colour); PNG stores them divided by it, so that the
// picture composites over a background as the render would.
void write_png(const Image &image, const std::string &path, PixelMeaning meaning)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.pixels.size() * 4);
    for (const miColor &c : image.pixels) {
        const float alpha = std::isnan(c.a) ? 0.0f : std::clamp(c.a, 0.0f, 1.0f);
        const float divide = meaning == PixelMeaning::colour && alpha > 0.0f && alpha < 1.0f ? alpha : 1.0f;
        for (float channel : {c.r, c.g, c.b})
            bytes.push_back(to_byte(meaning == PixelMeaning::colour ? srgb_encode(channel / divide)
                                                                    : channel * 0.5f + 0.5f));
        bytes.push_back(to_byte(alpha));
    }
    if (!stbi_write_png(path.c_str(), image.width, image.height, 4, bytes.data(), image.width * 4))
        throw ImageOutputError(path + ": cannot write the PNG image");
}

void write_exr(const Image &image, const std::string &path)
{
    Imf::Header header(image.width, image.height);
    Imf::FrameBuffer frame;
    const std::size_t x_stride = sizeof(miColor);
    const std::size_t y_stride = x_stride * static_cast<std::size_t>(image.width);
    auto *base = const_cast<char *>(reinterpret_cast<const char *>(image.pixels.data()));
    const char *names[] = {"R", "G", "B", "A"};
    for (int channel = 0; channel < 4; ++channel) {
        header.channels().insert(names[channel], Imf::Channel(Imf::FLOAT));
        frame.insert(names[channel], Imf::Slice(Imf::FLOAT, base + channel * sizeof(float), x_stride, y_stride));
    }
    try {
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(image.height);
    } catch (const std::exception &error) {
        throw ImageOutputError(path + ": cannot write the EXR image (" + error.what() + ")");
    }
}

}  // namespace

void check_output_path(const std::string &path)
{
    format_of(path);
    const std::string probe = partial_path(path);
    if (!std::ofstream(probe))
        throw ImageOutputError(path + ": cannot write there (no such folder, or no permission)");
    std::filesystem::remove(probe);
}

void write_image(const Image &image, const std::string &path, PixelMeaning meaning)
{
    const Format format = format_of(path);
    const std::string partial = partial_path(path);
    try {
        if (format == Format::png)
            write_png(image, partial, meaning);
        else
            write_exr(image, partial);
        std::error_code error;
        std::filesystem::rename(partial, path, error);
        if (error)
            throw ImageOutputError(path + ": cannot write the image (" + error.message() + ")");
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
}
