#include "tests/render_run.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <stb/stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void RenderTest::SetUp()
{
    folder = fs::temp_directory_path() /
             ("umbrex-render-test-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
}

void RenderTest::TearDown()
{
    fs::remove_all(folder);
}

ProgramRun RenderTest::render(const std::string &arguments)
{
    const fs::path log = folder / "messages.txt";
    const std::string command = std::string(UMBREX_RENDER) + " " + arguments + " > '" + log.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream file(log);
    std::stringstream text;
    text << file.rdbuf();
    fs::remove(log);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

Image RenderTest::render_exr(const std::string &arguments)
{
    const std::string path = (folder / "image.exr").string();
    const ProgramRun run = render(arguments + " --output " + path);
    EXPECT_EQ(run.exit_code, 0) << run.messages;
    return read_exr(path);
}

Image RenderTest::read_exr(const std::string &path)
{
    Image image;
    Imf::InputFile file(path.c_str());
    const auto window = file.header().dataWindow();
    image.width = window.max.x - window.min.x + 1;
    image.height = window.max.y - window.min.y + 1;
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    Imf::FrameBuffer frame;
    char *base = reinterpret_cast<char *>(image.pixels.data());
    const char *names[] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c)
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), sizeof(miColor),
                                          sizeof(miColor) * image.width));
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    return image;
}

Image RenderTest::read_png(const std::string &path)
{
    Image image;
    int channels = 0;
    unsigned char *bytes = stbi_load(path.c_str(), &image.width, &image.height, &channels, 0);
    EXPECT_EQ(channels, 4) << path;
    if (!bytes || channels != 4)
        return image;
    for (int i = 0; i < image.width * image.height; ++i) {
        const unsigned char *p = bytes + 4 * i;
        image.pixels.push_back({p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f, p[3] / 255.0f});
    }
    stbi_image_free(bytes);
    return image;
}

std::string RenderTest::write_obj(const Mesh &mesh, const std::string &name)
{
    const fs::path path = folder / name;
    std::ofstream obj(path);
    for (const Vec3 &p : mesh.positions)
        obj << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
    // The first UV set, a coordinate per triangle corner.
    const bool uvs = !mesh.uv_sets.empty();
    for (std::size_t t = 0; uvs && t < mesh.triangles.size(); ++t) {
        for (const TexCoord &c : mesh.uv_sets[0][t])
            obj << "vt " << c.u << ' ' << c.v << '\n';
    }
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        obj << 'f';
        for (std::size_t c = 0; c < 3; ++c) {
            obj << ' ' << mesh.triangles[t][c] + 1;
            if (uvs)
                obj << '/' << 3 * t + c + 1;
        }
        obj << '\n';
    }
    return path.string();
}

std::size_t covered_pixels(const Image &image)
{
    std::size_t count = 0;
    for (const miColor &c : image.pixels)
        count += c.a > 0.0f ? 1 : 0;
    return count;
}
