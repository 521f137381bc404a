#include "preview/render/image_output.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <png.h>
#include <stb/stb_image_write.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "preview/value_parsing.h"

namespace {

ImageFormat format_of(const std::string &path)
{
    const std::string extension = lowercase_extension(path);
    if (extension == ".png")
        return ImageFormat::png;
    if (extension == ".exr")
        return ImageFormat::exr;
    throw ImageOutputError(path + ": the output must end in .png or .exr");
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

void append_bytes(std::string &file, const void *data, std::size_t size)
{
    file.append(static_cast<const char *>(data), size);
}

void append_big_endian(std::string &file, std::uint32_t value)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    append_bytes(file, bytes, sizeof bytes);
}

// The PNG with an uncompressed iTXt chunk holding the command (UTF-8, as
// the command was given) after its header chunk, which is the first.
std::string with_command(const std::string &png, const std::string &command)
{
    constexpr std::size_t header_end = 8 + 4 + 4 + 13 + 4;  // signature, IHDR's length, type, data, CRC
    std::string chunk = "iTXt";
    chunk += "Command";
    chunk += std::string(3, '\0');  // end of keyword, not compressed, compression method
    chunk += std::string(2, '\0');  // no language tag, no translated keyword
    chunk += command;
    std::string out = png.substr(0, header_end);
    append_big_endian(out, static_cast<std::uint32_t>(chunk.size() - 4));
    out += chunk;
    append_big_endian(out, static_cast<std::uint32_t>(
                               crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(chunk.data()),
                                     static_cast<uInt>(chunk.size()))));
    return out + png.substr(header_end);
}

std::string encode_png(const Image &image, PixelMeaning meaning)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(image.pixels.size() * 4);
    for (const miColor &c : image.pixels) {
        for (const float channel : stored_channels(c, meaning))
            bytes.push_back(static_cast<std::uint8_t>(quantise(channel, 255)));
    }
    std::string file;
    const auto append = [](void *context, void *data, int size) {
        append_bytes(*static_cast<std::string *>(context), data, static_cast<std::size_t>(size));
    };
    if (!stbi_write_png_to_func(append, &file, image.width, image.height, 4, bytes.data(), image.width * 4))
        throw ImageOutputError("cannot encode the PNG image");
    return file;
}

// 16 bits a channel through libpng, most significant byte first as PNG
// stores them. Everything libpng's error return might skip is made before it.
std::string encode_png16(const Image &image, PixelMeaning meaning)
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

    std::string file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
        throw ImageOutputError("cannot encode the PNG image");
    }
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t size) {
            append_bytes(*static_cast<std::string *>(png_get_io_ptr(p)), data, size);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 16,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

// OpenEXR writes its file front to back and then goes back for the table of
// line offsets: a string that grows and can be written over.
class MemoryStream : public Imf::OStream {
public:
    MemoryStream() : Imf::OStream("memory") {}

    void write(const char data[], int size) override
    {
        const std::size_t end = position_ + static_cast<std::size_t>(size);
        if (end > bytes_.size())
            bytes_.resize(end);
        bytes_.replace(position_, static_cast<std::size_t>(size), data, static_cast<std::size_t>(size));
        position_ = end;
    }
    std::uint64_t tellp() override { return position_; }
    void seekp(std::uint64_t position) override { position_ = static_cast<std::size_t>(position); }

    std::string take() { return std::move(bytes_); }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

std::string encode_exr(const Image &image, const std::string &command)
{
    Imf::Header header(image.width, image.height);
    if (!command.empty())
        header.insert("command", Imf::StringAttribute(command));
    Imf::FrameBuffer frame;
    const std::size_t x_stride = sizeof(miColor);
    const std::size_t y_stride = x_stride * static_cast<std::size_t>(image.width);
    auto *base = const_cast<char *>(reinterpret_cast<const char *>(image.pixels.data()));
    const char *names[] = {"R", "G", "B", "A"};
    for (int channel = 0; channel < 4; ++channel) {
        header.channels().insert(names[channel], Imf::Channel(Imf::FLOAT));
        frame.insert(names[channel], Imf::Slice(Imf::FLOAT, base + channel * sizeof(float), x_stride, y_stride));
    }
    MemoryStream stream;
    try {
        Imf::OutputFile file(stream, header);
        file.setFrameBuffer(frame);
        file.writePixels(image.height);
    } catch (const std::exception &error) {
        throw ImageOutputError(std::string("cannot encode the EXR image (") + error.what() + ")");
    }
    return stream.take();
}

// A new empty file beside `path` under a name no one can foresee, open for
// writing; its name is left in `name`. Made with O_EXCL, so a name someone
// planted (a link to elsewhere) fails the call instead of being followed.
int create_beside(const std::string &path, std::string &name)
{
    const std::filesystem::path p(path);
    const std::filesystem::path folder = p.parent_path().empty() ? std::filesystem::path(".") : p.parent_path();
    std::string pattern = (folder / ("." + p.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw ImageOutputError(path + ": cannot write there (no such folder, or no permission)");
    name = pattern;
    return fd;
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
    std::string probe;
    close(create_beside(path, probe));
    unlink(probe.c_str());
}

void check_output_path(const std::string &path)
{
    format_of(path);
    check_writable(path);
}

std::string encode_image(const Image &image, ImageFormat format, PixelMeaning meaning, int png_bits,
                         const std::string &command)
{
    if (format == ImageFormat::exr)
        return encode_exr(image, command);
    const std::string png = png_bits == 16 ? encode_png16(image, meaning) : encode_png(image, meaning);
    return command.empty() ? png : with_command(png, command);
}

void write_whole_file(const std::string &path, const std::string &bytes)
{
    std::string partial;
    const int fd = create_beside(path, partial);
    // mkstemp makes the file private; the file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    std::string fault;
    if (fchmod(fd, 0666 & ~mask) != 0)
        fault = std::strerror(errno);
    for (std::size_t done = 0; fault.empty() && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (!(n < 0 && errno == EINTR))
            fault = n < 0 ? std::strerror(errno) : "nothing written";
    }
    if (close(fd) != 0 && fault.empty())
        fault = std::strerror(errno);
    if (fault.empty()) {
        std::error_code error;
        std::filesystem::rename(partial, path, error);
        if (error)
            fault = error.message();
    }
    if (!fault.empty()) {
        unlink(partial.c_str());
        throw ImageOutputError(path + ": cannot write the file (" + fault + ")");
    }
}

void write_image(const Image &image, const std::string &path, PixelMeaning meaning, int png_bits,
                 const std::string &command)
{
    const ImageFormat format = format_of(path);
    std::string file;
    try {
        file = encode_image(image, format, meaning, png_bits, command);
    } catch (const ImageOutputError &error) {
        throw ImageOutputError(path + ": " + error.what());
    }
    write_whole_file(path, file);
}
