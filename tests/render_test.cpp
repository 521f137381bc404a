// umbrex-render end to end: the program run as a user runs it, on scenes the
// tests build, its images read back and held against closed forms.

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "preview/render/image_output.h"
#include "preview/scene/mesh.h"

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int exit_code;
    std::string messages;  // standard error and output together
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = fs::temp_directory_path() /
                 ("umbrex-render-test-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    ProgramRun render(const std::string &arguments)
    {
        const fs::path log = folder / "messages.txt";
        const std::string command =
            std::string(UMBREX_RENDER) + " " + arguments + " > '" + log.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream file(log);
        std::stringstream text;
        text << file.rdbuf();
        fs::remove(log);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
    }

    // Renders to EXR and reads the floats back, failing the test on an error.
    Image render_exr(const std::string &arguments)
    {
        const std::string path = (folder / "image.exr").string();
        const ProgramRun run = render(arguments + " --output " + path);
        EXPECT_EQ(run.exit_code, 0) << run.messages;
        return read_exr(path);
    }

    static Image read_exr(const std::string &path)
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

    std::string write_obj(const Mesh &mesh, const std::string &name = "scene.obj")
    {
        const fs::path path = folder / name;
        std::ofstream obj(path);
        for (const Vec3 &p : mesh.positions)
            obj << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
        for (const auto &t : mesh.triangles)
            obj << "f " << t[0] + 1 << ' ' << t[1] + 1 << ' ' << t[2] + 1 << '\n';
        return path.string();
    }

    fs::path folder;
};

// Cosine-distributed directions (spread 90 about a unit normal) from a point
// on a plane see a sphere of radius r centred h above it over a fraction
// (r/h)^2 of their weight. With both falloff distances beyond the sphere
// every hit is closed, so the colour is 1 - (r/h)^2.
TEST_F(RenderTest, OcclusionBelowASphereMatchesTheClosedForm)
{
    const float r = 1.0f, h = 2.0f;
    Mesh scene = make_ground(10.0f);
    scene.append(make_sphere({0.0f, h, 0.0f}, r, 256, 128));
    const std::string obj = write_obj(scene);

    // A small patch straight under the sphere, seen from low in front.
    const Image image = render_exr("--scene " + obj + " --camera 0,0.9,3:0,0,0:0.5 --width 8 --height 8" +
                                   " --set samples=256 --set falloff_start=100 --set falloff_stop=200");
    double sum = 0.0;
    for (const miColor &c : image.pixels)
        sum += c.r;
    const double mean_occlusion = 1.0 - sum / static_cast<double>(image.pixels.size());

    // Binomial standard error of 64 x 256 samples, four times over; the
    // low-discrepancy sampler does better than that.
    const double expected = (r / h) * (r / h);
    const double tolerance = 4.0 * std::sqrt(expected * (1.0 - expected) / (64.0 * 256.0));
    EXPECT_NEAR(mean_occlusion, expected, tolerance);
}

TEST_F(RenderTest, WithoutTracingEveryVisiblePixelIsBright)
{
    const Image image = render_exr("--camera 0,3,3:0,0,0:30 --width 24 --height 16 "
                                   "--set trace=off --set bright=0.25,0.5,0.75,1");
    for (const miColor &c : image.pixels) {
        ASSERT_EQ(c.r, 0.25f);
        ASSERT_EQ(c.g, 0.5f);
        ASSERT_EQ(c.b, 0.75f);
        ASSERT_EQ(c.a, 1.0f);
    }
}

TEST_F(RenderTest, AnOpenPlaneBendsNoNormal)
{
    const std::string obj = write_obj(make_ground(5.0f));
    const Image image = render_exr("--scene " + obj + " --camera 0,2,2:0,0,0:20 --width 16 --height 16 " +
                                   "--set bent_normals=on --set samples=256");
    for (const miColor &c : image.pixels) {
        EXPECT_NEAR(c.r, 0.0f, 0.02f);
        EXPECT_NEAR(c.g, 1.0f, 0.001f);
        EXPECT_NEAR(c.b, 0.0f, 0.02f);
        EXPECT_EQ(c.a, 1.0f);
    }
}

// The OBJ's vertex normals are the shading normals: without tracing, a bent
// normal is the mean sampling direction, which lies along them.
TEST_F(RenderTest, VertexNormalsOfTheSceneAreUsedWhenGiven)
{
    std::ofstream(folder / "tilted.obj") << "v -5 0 -5\nv -5 0 5\nv 5 0 5\nv 5 0 -5\n"
                                            "vn 0.6 0.8 0\nf 1//1 2//1 3//1\nf 1//1 3//1 4//1\n";
    const Image image = render_exr("--scene " + (folder / "tilted.obj").string() +
                                   " --camera 0,2,2:0,0,0:20 --width 4 --height 4" +
                                   " --set bent_normals=on --set trace=off --set samples=1024");
    for (const miColor &c : image.pixels) {
        EXPECT_NEAR(c.r, 0.6f, 0.02f);
        EXPECT_NEAR(c.g, 0.8f, 0.02f);
    }
}

// A uniform HDR image as the environment, and attached to bright: without
// tracing, every sample sees its colour, which the mean keeps exactly.
TEST_F(RenderTest, HdrImagesServeAsEnvironmentAndAsAttachment)
{
    const float texels[] = {0.5f, 0.25f, 2.0f, 0.5f, 0.25f, 2.0f, 0.5f, 0.25f, 2.0f, 0.5f, 0.25f, 2.0f};
    const std::string hdr = (folder / "uniform.hdr").string();
    ASSERT_TRUE(stbi_write_hdr(hdr.c_str(), 2, 2, 3, texels));
    const std::string view = " --camera 0,3,3:0,0,0:30 --width 6 --height 4 --set trace=off";

    for (const std::string &arguments : {"--environment " + hdr + " --set environment=on" + view,
                                         "--attach bright=" + hdr + view}) {
        for (const miColor &c : render_exr(arguments).pixels) {
            ASSERT_EQ(c.r, 0.5f) << arguments;
            ASSERT_EQ(c.g, 0.25f) << arguments;
            ASSERT_EQ(c.b, 2.0f) << arguments;
            ASSERT_EQ(c.a, 1.0f) << arguments;
        }
    }
}

TEST_F(RenderTest, FramesAreTheSameWhateverTheThreads)
{
    const std::string arguments = "--width 40 --height 24 --aa 2 --set samples=8";
    const Image one = render_exr(arguments + " --threads 1");
    const Image two = render_exr(arguments + " --threads 2");
    ASSERT_EQ(one.pixels.size(), two.pixels.size());
    EXPECT_EQ(std::memcmp(one.pixels.data(), two.pixels.data(), one.pixels.size() * sizeof(miColor)), 0);
}

// Where a resting sphere meets the ground the occlusion is deep; open ground
// away from the objects is nearly white.
TEST_F(RenderTest, TheDefaultSceneShowsContactShadows)
{
    const std::string png = (folder / "default.png").string();
    const ProgramRun run = render("--width 160 --height 90 --output " + png);
    ASSERT_EQ(run.exit_code, 0) << run.messages;
    EXPECT_TRUE(fs::file_size(png) > 1000);
    EXPECT_NE(run.messages.find("160x90, 32 samples"), std::string::npos) << run.messages;

    // The same view as floats; pixels found by projecting two ground points
    // through the default camera (eye 4.4,4.8,6.2, target 0.5,0.2,0.1, 36 degrees).
    const Image image = render_exr("--width 160 --height 90");
    const auto pixel_at = [&](Vec3 p) {
        const Vec3 eye = {4.4f, 4.8f, 6.2f};
        const Vec3 forward = normalized(Vec3{0.5f, 0.2f, 0.1f} - eye);
        const Vec3 right = normalized(cross(forward, {0.0f, 1.0f, 0.0f}));
        const Vec3 up = cross(right, forward);
        const Vec3 to = p - eye;
        const float half_height = std::tan(18.0f * 3.14159265f / 180.0f);
        const float sx = dot(to, right) / dot(to, forward) / (half_height * 160.0f / 90.0f);
        const float sy = dot(to, up) / dot(to, forward) / half_height;
        const int x = static_cast<int>((sx + 1.0f) * 0.5f * 160.0f);
        const int y = static_cast<int>((1.0f - sy) * 0.5f * 90.0f);
        return image.pixels[static_cast<std::size_t>(y) * 160 + x];
    };
    const miColor crease = pixel_at({-1.135f, 0.0f, 0.205f});  // beside the big sphere's contact
    const miColor open = pixel_at({-3.0f, 0.0f, 4.0f});
    EXPECT_LT(crease.r, 0.5f * open.r) << "crease " << crease.r << ", open ground " << open.r;
    EXPECT_GT(open.r, 0.8f);
}

TEST_F(RenderTest, BadInputGetsOneLineAndNoImage)
{
    const std::string output = (folder / "out.png").string();
    std::ofstream(folder / "broken.obj") << "v 0 0 0\nv 1 0 0\nf 1 2 7\n";
    std::ofstream(folder / "empty.obj") << "# nothing\n";
    std::ofstream(folder / "bad.hdr") << "not an image";

    const std::pair<std::string, std::string> cases[] = {
        {"--set smaples=4", "the shader has no parameter \"smaples\" (did you mean \"samples\"?)"},
        {"--set samples=many", "\"samples\" (integer) must be a whole number, not \"many\""},
        {"--set bright=1,0", "\"bright\" (color) must be 3 comma-separated numbers, not \"1,0\""},
        {"--set trace=maybe", "\"trace\" (boolean) must be on or off, not \"maybe\""},
        {"--set samples", "--set takes name=value, not \"samples\""},
        {"--attach samples=checker:1", "a checker attaches to a color or scalar parameter, and \"samples\" is integer"},
        {"--camera 1,2,3:4,5,6", "expected eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees"},
        {"--width 0", "--width: Value 0 not in range 1 to 16384"},
        {"--scene " + (folder / "missing.obj").string(), (folder / "missing.obj").string() + ": no such scene file"},
        {"--scene " + (folder / "broken.obj").string(),
         (folder / "broken.obj").string() + ": a face of \"\" refers to vertex 7, which does not exist"},
        {"--scene " + (folder / "empty.obj").string(), (folder / "empty.obj").string() + ": the scene has no faces"},
        {"--environment " + (folder / "bad.hdr").string(), (folder / "bad.hdr").string() + ": cannot read the HDR image"},
        {"--library " + std::string(WRONG_VERSION_SHADER), "shader version 2, but this host knows version 1"},
        {"--library " + std::string(NOT_A_SHADER), "not an Umbrex shader library (it does not export Umbrex)"},
        {"--declaration " + (folder / "none.mi").string(), "cannot open the shader declaration"},
    };
    for (const auto &[arguments, message] : cases) {
        const ProgramRun run = render(arguments + " --width 8 --height 8 --output " + output);
        EXPECT_NE(run.exit_code, 0) << arguments;
        EXPECT_NE(run.messages.find(message), std::string::npos) << arguments << "\n" << run.messages;
        EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), '\n'), 1) << run.messages;
        EXPECT_FALSE(fs::exists(output)) << arguments;
    }

    for (const std::string &unwritable : {(folder / "no-folder" / "out.png").string(),
                                          (folder / "out.tiff").string()}) {
        const ProgramRun run = render("--width 8 --height 8 --output " + unwritable);
        EXPECT_NE(run.exit_code, 0);
        EXPECT_NE(run.messages.find(unwritable), std::string::npos) << run.messages;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3)
        << "only the three inputs remain";
}

}  // namespace
