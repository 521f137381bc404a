// Writing the rendered frame: 8-bit PNG for viewing, float EXR for the exact
// values, as files or in memory. A file appears whole or not at all.
#ifndef UMBREX_PREVIEW_IMAGE_OUTPUT_H
#define UMBREX_PREVIEW_IMAGE_OUTPUT_H

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

struct ImageOutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class ImageFormat { png, exr };

// Fails early, before any rendering, for a path that cannot be written: an
// unknown extension or a folder that does not take the file.
void check_output_path(const std::string &path);

// The image's file in memory, byte for byte what write_image writes.
std::string encode_image(const Image &image, ImageFormat format, PixelMeaning meaning);

// Writes the file under a name of its own that no one can foresee (made
// with mkstemp beside it, so a link planted there is never followed), then
// renames it into place.
void write_image(const Image &image, const std::string &path, PixelMeaning meaning);

#endif
