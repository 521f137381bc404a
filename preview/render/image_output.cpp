#include "preview/render/image_output.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <png.h>
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
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

// A value from 0 to 1 as a whole number from 0 to `largest`, rounded.
unsigned quantise(float value, unsigned largest)
{
    if (!(value > 0.0f))  // negative or NaN
        return 0;
    return static_cast<unsigned>(std::lround(std::min(value, 1.0f) * static_cast<float>(largest)));
}

float srgb_encode(float linear)
{
    if (!(linear > 0.0f))
        return 0.0f;
    return linear <= 0.0031308f ? linear * 12.92f : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

void write_png(const Image &image, const std::string &path, PixelMeaning meaning)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.pixels.size() * 4);
    for (const miColor &c : image.pixels) {
        for (const float channel : stored_channels(c, meaning))
            bytes.push_back(static_cast<std::uint8_t>(quantise(channel, 255)));
    }
    if (!stbi_write_png(path.c_str(), image.width, image.height, 4, bytes.data(), image.width * 4))
        throw ImageOutputError(path + ": cannot write the PNG image");
}

// 16 bits a channel through libpng, most significant byte first as PNG
// stores them. Everything libpng's error return might skip is made before it.
void write_png16(const Image &image, const std::string &path, PixelMeaning meaning)
{
    const auto row_bytes = static_cast<std::size_t>(image.width) * 8;
    std::vector<png_byte> bytes(row_bytes * static_cast<std::size_t>(image.height));
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const std::array<float, 4> channels = stored_channels(image.pixels[i], meaning);
        for (std::size_t c = 0; c < 4; ++c) {
            const unsigned value = quantise(channels[c], 65535);
            bytes[i * 8 + c * 2] = static_cast<png_byte>(value >> 8);
            bytes[i * 8 + c * 2 + 1] = static_cast<png_byte>(value & 0xFF);
        }
    }
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = bytes.data() + y * row_bytes;

    std::FILE *file = std::fopen(path.c_str(), "wb");
    png_structp png = file ? png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr) : nullptr;
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
        if (file)
            std::fclose(file);
        throw ImageOutputError(path + ": cannot write the PNG image");
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 16,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0)
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

// Colours are premultiplied by their alpha, as rendered (a pixel half
// covered holds half its colour); a file stores them divided by it, so that
// the picture composites over a background as the render would.
std::array<float, 4> stored_channels(const miColor &c, PixelMeaning meaning, bool srgb)
{
    const float alpha = std::isnan(c.a) ? 0.0f : std::clamp(c.a, 0.0f, 1.0f);
    const float divide = meaning == PixelMeaning::colour && alpha > 0.0f && alpha < 1.0f ? alpha : 1.0f;
    const auto store = [&](float channel) {
        if (meaning == PixelMeaning::data)
            return channel * 0.5f + 0.5f;
        return srgb ? srgb_encode(channel / divide) : channel / divide;
    };
    return {store(c.r), store(c.g), store(c.b), alpha};
}

void check_writable(const std::string &path)
{
    const std::string probe = partial_path(path);
    if (!std::ofstream(probe))
        throw ImageOutputError(path + ": cannot write there (no such folder, or no permission)");
    std::filesystem::remove(probe);
}

void check_output_path(const std::string &path)
{
    format_of(path);
    check_writable(path);
}

void write_whole_file(const std::string &path, const std::function<void(const std::string &temporary)> &write)
{
    const std::string partial = partial_path(path);
    try {
        write(partial);
        std::error_code error;
        std::filesystem::rename(partial, path, error);
        if (error)
            throw ImageOutputError(path + ": cannot write the file (" + error.message() + ")");
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
}

void write_image(const Image &image, const std::string &path, PixelMeaning meaning, int png_bits)
{
    const Format format = format_of(path);
    write_whole_file(path, [&](const std::string &partial) {
        if (format == Format::exr)
            write_exr(image, partial);
        else if (png_bits == 16)
            write_png16(image, partial, meaning);
        else
            write_png(image, partial, meaning);
    });
}
