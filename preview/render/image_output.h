// Writing the rendered frame or baked texture: 8- or 16-bit PNG for viewing
// and painting, float EXR for the exact values, as files or in memory. A
// file appears whole or not at all.
#ifndef UMBREX_PREVIEW_IMAGE_OUTPUT_H
#define UMBREX_PREVIEW_IMAGE_OUTPUT_H

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_interface.h"

struct Image {
    int width = 0, height = 0;
    std::vector<miColor> pixels;  // rows from the top
};

// How PNG stores the values, with their alpha (clamped, linear) beside them:
// colours divided by their alpha, clamped and sRGB-encoded; data (bent
// normals) mapped from -1..1 to 0..1 and stored linearly. EXR stores them as
// they are.
enum class PixelMeaning { colour, data };

// A pixel's four channels as a PNG stores them, before they are clamped to
// 0 to 1 and rounded; colours stay linear where srgb is false.
std::array<float, 4> stored_channels(const miColor &c, PixelMeaning meaning, bool srgb = true);

struct ImageOutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class ImageFormat { png, exr };

// Fails early, before any rendering, for a path that cannot be written: an
// unknown extension or a folder that does not take the file.
void check_output_path(const std::string &path);

// Fails early for a folder that does not take the file (no such folder, or
// no permission), whatever its kind.
void check_writable(const std::string &path);

// The image's file in memory, byte for byte what write_image writes; a PNG
// has 8 or 16 bits per channel. A command, where given, is kept in the file:
// an iTXt chunk "Command" after a PNG's header, a string attribute
// "command" in an EXR's.
std::string encode_image(const Image &image, ImageFormat format, PixelMeaning meaning, int png_bits = 8,
                         const std::string &command = {});

// Writes the bytes under a name of their own that no one can foresee (made
// with mkstemp beside `path`, so a link planted there is never followed),
// then renames them into place: the file appears whole or not at all.
void write_whole_file(const std::string &path, const std::string &bytes);

void write_image(const Image &image, const std::string &path, PixelMeaning meaning, int png_bits = 8,
                 const std::string &command = {});

#endif
