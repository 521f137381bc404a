// umbrex-render end to end: the program run as a user runs it, on scenes the
// tests build, its images read back and held against closed forms.

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "preview/shading/attached_images.h"
#include "tests/render_run.h"

namespace fs = std::filesystem;

namespace {

// A glTF of one triangle whose three positions are the buffer at `uri`.
std::string gltf_triangle(const std::string &uri)
{
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
           R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"uri":")" +
           uri + R"(","byteLength":36}],"bufferViews":[{"buffer":0,"byteLength":36}],)"
                 R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
                 R"("min":[0,0,0],"max":[1,1,0]}]})";
}

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

// Under a ceiling at height h the same directions meet it at h / cos, and a
// linear falloff from 0 to s weighs each hit 1 - h / (cos s); over the
// cosine weight that averages (1 - h / s)^2, a quarter for s = 2h. It holds
// only if probes report distances and stop in scene units whatever the
// length of the direction the shader hands over.
// With a tower beside them the scene's centre, about which it is traced,
// lies 50 units above the ground: probes must still start as close above it.
TEST_F(RenderTest, OcclusionUnderACeilingMatchesTheClosedForm)
{
    for (const bool tower : {false, true}) {
        Mesh scene = make_ground(10.0f);
        scene.append(make_box({0.0f, 1.5f, 0.0f}, {10.0f, 0.5f, 10.0f}, 0.0f));  // its underside at 1
        if (tower)
            scene.append(make_box({30.0f, 50.0f, 0.0f}, {0.5f, 50.0f, 0.5f}, 0.0f));
        const Image image = render_exr("--scene " + write_obj(scene) +
                                       " --camera 0,0.5,3:0,0,0:0.5 --width 8 --height 8" +
                                       " --set samples=256 --set falloff_start=0 --set falloff_stop=2");
        double sum = 0.0;
        for (const miColor &c : image.pixels)
            sum += c.r;
        EXPECT_NEAR(1.0 - sum / static_cast<double>(image.pixels.size()), 0.25, 0.01) << "tower " << tower;
    }
}

// With several camera rays a pixel is their mean: equal colours stay exact.
// A PNG holds them sRGB-encoded, also at the edges against the background,
// where the colour is divided by the coverage in alpha; a 16-bit PNG as
// 0.53710, 0.73536 and 0.88083 of 65535.
TEST_F(RenderTest, WithoutTracingEveryVisiblePixelIsBright)
{
    const std::string look = " --width 24 --height 16 --set trace=off --set bright=0.25,0.5,0.75,1";
    for (const char *rays : {"", " --aa 3"}) {
        const Image image = render_exr("--camera 0,3,3:0,0,0:30" + look + rays);
        for (const miColor &c : image.pixels) {
            ASSERT_EQ(c.r, 0.25f) << rays;
            ASSERT_EQ(c.g, 0.5f) << rays;
            ASSERT_EQ(c.b, 0.75f) << rays;
            ASSERT_EQ(c.a, 1.0f) << rays;
        }
    }

    const std::string png = (folder / "edges.png").string();
    ASSERT_EQ(render("--camera 0,3,40:0,0,0:30 --aa 4" + look + " --output " + png).exit_code, 0);
    std::size_t edges = 0;
    for (const miColor &c : read_png(png).pixels) {
        if (c.a == 0.0f)
            continue;
        edges += c.a < 1.0f;
        ASSERT_EQ(std::lround(c.r * 255.0f), 137) << "alpha " << c.a;
        ASSERT_EQ(std::lround(c.g * 255.0f), 188) << "alpha " << c.a;
        ASSERT_EQ(std::lround(c.b * 255.0f), 225) << "alpha " << c.a;
    }
    EXPECT_GT(edges, 4u);

    const std::string deep = (folder / "deep.png").string();
    ASSERT_EQ(render("--camera 0,3,3:0,0,0:30" + look + " --png-bits 16 --output " + deep).exit_code, 0);
    int width = 0, height = 0, channels = 0;
    stbi_us *values = stbi_load_16(deep.c_str(), &width, &height, &channels, 4);
    ASSERT_TRUE(values);
    EXPECT_EQ(channels, 4);
    for (int i = 0; i < width * height; ++i) {
        ASSERT_NEAR(values[4 * i], 35199, 1);
        ASSERT_NEAR(values[4 * i + 1], 48192, 1);
        ASSERT_NEAR(values[4 * i + 2], 57725, 1);
        ASSERT_EQ(values[4 * i + 3], 65535);
    }
    stbi_image_free(values);
}

// Open ground bends no normal, and sees the default sky over its cosine
// weight: the sky is (0.95, 0.95, 1) less (0.65, 0.45, 0.1) times the root of
// the direction's height u, whose cosine-weighted mean is the integral of
// 2u sqrt(u) over 0..1, 0.8.
TEST_F(RenderTest, AnOpenPlaneBendsNoNormal)
{
    const std::string view = "--scene " + write_obj(make_ground(5.0f)) + " --camera 0,2,2:0,0,0:20 --width 16 --height 16 ";
    const Image image = render_exr(view + "--set bent_normals=on --set samples=256");
    for (const miColor &c : image.pixels) {
        EXPECT_NEAR(c.r, 0.0f, 0.02f);
        EXPECT_NEAR(c.g, 1.0f, 0.001f);
        EXPECT_NEAR(c.b, 0.0f, 0.02f);
        EXPECT_EQ(c.a, 1.0f);
    }
    for (const miColor &c : render_exr(view + "--set environment=on --set samples=256").pixels) {
        EXPECT_NEAR(c.r, 0.95f - 0.65f * 0.8f, 0.01f);
        EXPECT_NEAR(c.g, 0.95f - 0.45f * 0.8f, 0.01f);
        EXPECT_NEAR(c.b, 1.0f - 0.1f * 0.8f, 0.01f);
    }
}

// The OBJ's vertex normals are the shading normals, turned to the side of the
// surface the camera sees when the file has them the other way: without
// tracing, a bent normal is the mean sampling direction, which lies along them.
TEST_F(RenderTest, VertexNormalsOfTheSceneAreUsedWhenGiven)
{
    for (const char *normal : {"0.6 0.8 0", "-0.6 -0.8 0"}) {
        std::ofstream(folder / "tilted.obj") << "v -5 0 -5\nv -5 0 5\nv 5 0 5\nv 5 0 -5\n"
                                             << "vn " << normal << "\nf 1//1 2//1 3//1\nf 1//1 3//1 4//1\n";
        const Image image = render_exr("--scene " + (folder / "tilted.obj").string() +
                                       " --camera 0,2,2:0,0,0:20 --width 4 --height 4" +
                                       " --set bent_normals=on --set trace=off --set samples=1024");
        for (const miColor &c : image.pixels) {
            EXPECT_NEAR(c.r, 0.6f, 0.02f) << normal;
            EXPECT_NEAR(c.g, 0.8f, 0.02f) << normal;
        }
    }
}

// A sphere alone is open everywhere. Seen with the coarse normals of a
// low-poly mesh, the normal at its outline bends away from the viewer; it
// must not turn into the sphere and shade the outline dark.
TEST_F(RenderTest, OutlinesOfASmoothLowPolyMeshStayOpen)
{
    Mesh sphere = make_sphere({0.0f, 0.0f, 0.0f}, 1.0f, 10, 5);
    std::ofstream obj(folder / "sphere.obj");
    for (const Vec3 &p : sphere.positions)
        obj << "v " << p.x << ' ' << p.y << ' ' << p.z << "\nvn " << p.x << ' ' << p.y << ' ' << p.z << '\n';
    for (const auto &t : sphere.triangles)
        obj << "f " << t[0] + 1 << "//" << t[0] + 1 << ' ' << t[1] + 1 << "//" << t[1] + 1 << ' ' << t[2] + 1
            << "//" << t[2] + 1 << '\n';
    obj.close();

    const std::string view = "--scene " + (folder / "sphere.obj").string() + " --width 96 --height 72";
    const Image image = render_exr(view);

    // Its PNG keeps the alpha: transparent around the sphere, opaque on it.
    const std::string png = (folder / "sphere.png").string();
    ASSERT_EQ(render(view + " --output " + png).exit_code, 0);
    const Image written = read_png(png);
    ASSERT_EQ(written.pixels.size(), image.pixels.size());
    EXPECT_EQ(written.pixels.front().a, 0.0f);
    EXPECT_EQ(written.pixels[36 * 96 + 48].a, 1.0f);

    std::size_t outline = 0;
    for (int y = 1; y + 1 < image.height; ++y) {
        for (int x = 1; x + 1 < image.width; ++x) {
            const auto at = [&](int dx, int dy) { return image.pixels[(y + dy) * image.width + x + dx]; };
            if (at(0, 0).a == 0.0f || (at(-1, 0).a > 0.0f && at(1, 0).a > 0.0f && at(0, -1).a > 0.0f && at(0, 1).a > 0.0f))
                continue;
            ++outline;
            EXPECT_GT(at(0, 0).r, 0.75f) << "outline pixel " << x << "," << y;
        }
    }
    EXPECT_GT(outline, 100u);
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

    // An attached image is read once while its file stays as it is, and
    // again once the file changes (here to one texel).
    AttachedImages images;
    const auto first = images.read(hdr);
    EXPECT_EQ(images.read(hdr), first);
    ASSERT_TRUE(stbi_write_hdr(hdr.c_str(), 1, 1, 3, texels));
    EXPECT_NE(images.read(hdr), first);
}

// A checker on dark, a parameter well into the record, shows where the
// scene is occluded; its cells complement the colour, not the alpha.
TEST_F(RenderTest, ACheckerAttachedToDarkShowsInTheOcclusion)
{
    const std::string view = "--width 40 --height 24 --set dark=0.2,0.1,0,1";
    const Image plain = render_exr(view);
    const Image checkered = render_exr(view + " --attach dark=checker:0.5");
    ASSERT_EQ(plain.pixels.size(), checkered.pixels.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < plain.pixels.size(); ++i) {
        changed += plain.pixels[i].g != checkered.pixels[i].g;
        ASSERT_EQ(checkered.pixels[i].a, plain.pixels[i].a) << "pixel " << i;
    }
    EXPECT_GT(changed, plain.pixels.size() / 10);
}

// Frames, and baked textures with their jittered texel points.
TEST_F(RenderTest, FramesAreTheSameWhateverTheThreads)
{
    for (const char *arguments : {"--width 40 --height 24 --aa 2 --set samples=8",
                                  "--bake texture --bake-size 40x24 --aa 2 --set samples=8"}) {
        const Image one = render_exr(std::string(arguments) + " --threads 1");
        const Image two = render_exr(std::string(arguments) + " --threads 2");
        ASSERT_EQ(one.pixels.size(), two.pixels.size());
        EXPECT_EQ(std::memcmp(one.pixels.data(), two.pixels.data(), one.pixels.size() * sizeof(miColor)), 0);
    }
}

// A seed picks another sample pattern: seed 0 is the pattern without one,
// another seed changes most shaded pixels, the same seed repeats exactly, and
// the frame's mean stays within the noise of both. Passes, each with a
// pattern of its own, add up: one pass is the frame as ever, and four of 16
// samples halve the noise between two seeds, as 64 samples would.
TEST_F(RenderTest, ASeedPicksAnotherPatternOfTheSameMean)
{
    const std::string arguments = "--width 48 --height 27 --set samples=16";
    const Image plain = render_exr(arguments);
    const Image zero = render_exr(arguments + " --seed 0");
    const Image seven = render_exr(arguments + " --seed 7");
    const Image again = render_exr(arguments + " --seed 7");
    ASSERT_EQ(plain.pixels.size(), zero.pixels.size());
    ASSERT_EQ(plain.pixels.size(), seven.pixels.size());
    EXPECT_EQ(std::memcmp(plain.pixels.data(), zero.pixels.data(), plain.pixels.size() * sizeof(miColor)), 0);
    EXPECT_EQ(std::memcmp(seven.pixels.data(), again.pixels.data(), seven.pixels.size() * sizeof(miColor)), 0);
    std::size_t shaded = 0, changed = 0;
    double plain_sum = 0.0, seven_sum = 0.0;
    for (std::size_t i = 0; i < plain.pixels.size(); ++i) {
        if (plain.pixels[i].a == 0.0f)
            continue;
        ++shaded;
        changed += plain.pixels[i].r != seven.pixels[i].r;
        plain_sum += plain.pixels[i].r;
        seven_sum += seven.pixels[i].r;
    }
    ASSERT_GT(shaded, plain.pixels.size() / 2);
    // Open ground sees no occluder whatever the pattern; the rest changes.
    EXPECT_GT(changed, shaded / 3);
    EXPECT_NEAR(plain_sum / shaded, seven_sum / shaded, 0.01);

    // Four camera rays a pixel, each with a pattern of its own, take the
    // difference between two seeds well down: its square to about a half
    // here, where rays sharing one pattern would leave it almost whole.
    const auto squared_difference = [](const Image &a, const Image &b) {
        double sum = 0.0;
        for (std::size_t i = 0; i < a.pixels.size(); ++i)
            sum += (a.pixels[i].r - b.pixels[i].r) * (a.pixels[i].r - b.pixels[i].r);
        return sum;
    };
    const double four =
        squared_difference(render_exr(arguments + " --aa 4"), render_exr(arguments + " --aa 4 --seed 7"));
    EXPECT_LT(four, 0.7 * squared_difference(plain, seven));

    const Image one_pass = render_exr(arguments + " --pass-samples 16");
    EXPECT_EQ(std::memcmp(plain.pixels.data(), one_pass.pixels.data(), plain.pixels.size() * sizeof(miColor)), 0);
    // Four passes of 16 samples, as 64 samples in one, take it to about a quarter.
    const std::string passes = "--width 48 --height 27 --set samples=64 --pass-samples 16";
    const double ratio = squared_difference(render_exr(passes), render_exr(passes + " --seed 7")) /
                         squared_difference(plain, seven);
    EXPECT_GT(ratio, 0.12);
    EXPECT_LT(ratio, 0.42);
}

// Where a resting sphere meets the ground the occlusion is deep; open ground
// away from the objects is nearly white.
TEST_F(RenderTest, TheDefaultSceneShowsContactShadows)
{
    const std::string png = (folder / "default.png").string();
    const ProgramRun run = render("--width 160 --height 90 --output " + png);
    ASSERT_EQ(run.exit_code, 0) << run.messages;
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
    std::ofstream(folder / "empty.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2 3\n";
    std::ofstream(folder / "flat.obj") << "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n";
    std::ofstream(folder / "bad.hdr") << "not an image";
    // A vertex that a face uses, beyond what the tracer takes from the rest.
    std::ofstream(folder / "far.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1e19 0 1\nf 1 2 3\nf 1 2 4\n";
    std::ofstream(folder / "broken.fbx") << "not a model\n";
    std::ofstream(folder / "level.bsp") << "IBSP.\n";
    std::ofstream(folder / "points.ply") << "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                                            "property float y\nproperty float z\nend_header\n0 0 0\n1 0 0\n";
    std::ofstream(folder / "other.mi") << "declare shader color \"Other\" (color \"bright\") version 1 end declare\n";
    const std::string scene_folder = (folder / "scenes").string();
    fs::create_directory(scene_folder);
    // Not files to read, and a buffer that names one outside the scene's folder.
    ASSERT_EQ(mkfifo((folder / "pipe.ply").c_str(), 0600), 0);
    fs::create_symlink("nothing.obj", folder / "gone.obj");
    fs::create_symlink("/dev/zero", folder / "zero.ply");
    std::ofstream(folder / "passwd.gltf") << gltf_triangle("../../../../../../../../../../etc/passwd");

    const std::pair<std::string, std::string> cases[] = {
        {"--set smaples=4", "the shader has no parameter \"smaples\" (did you mean \"samples\"?)"},
        {"--set samples=many", "\"samples\" (integer) must be a whole number, not \"many\""},
        {"--set bright=1,0", "\"bright\" (color) must be 3 comma-separated numbers, not \"1,0\""},
        {"--set trace=maybe", "\"trace\" (boolean) must be on or off, not \"maybe\""},
        {"--set samples", "--set takes name=value, not \"samples\""},
        {"--attach samples=checker:1", "a checker attaches to a color or scalar parameter, and \"samples\" is integer"},
        {"--camera 1,2,3:4,5,6", "expected eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees"},
        {"--width 0", "--width: 0 is not in the range 1 to 16384"},
        {"--height abc", "--height: \"abc\" is not a whole number"},
        {"--seed -1", "--seed: -1 is not in the range 0 to 2147483647"},
        {"--pass-samples 0", "--pass-samples: 0 is not in the range 1 to 2147483647"},
        {"--up w", "--up takes x, y or z with an optional sign (+z, -y), not \"w\""},
        {"--only bunny", "--hide and --only leave no triangles of the built-in scene to render"},
        {"--camera 1e19,0,0:0,0,0:40", "--camera: the eye lies 1e+19 units from the scene's centre"},
        {"--camera 1e308,0,0:-1e308,0,0:40", "--camera: the eye and the target are too far apart"},
        {"--scene " + scene_folder, scene_folder + ": is a folder, not a scene file"},
        {"--scene " + (folder / "far.obj").string(),
         (folder / "far.obj").string() + ": vertex 4 at (1e+19, 0, 1) lies too far from the rest of the scene"},
        {"--scene " + (folder / "missing.obj").string(), (folder / "missing.obj").string() + ": no such scene file"},
        {"--scene " + (folder / "broken.obj").string(),
         (folder / "broken.obj").string() + ": a face of \"\" refers to vertex 7, which does not exist"},
        {"--scene " + (folder / "empty.obj").string(),
         (folder / "empty.obj").string() + ": no geometry to render: the file holds 3 vertices, 1 line and no faces"},
        {"--scene " + (folder / "flat.obj").string(),
         (folder / "flat.obj").string() +
             ": no geometry to render: the file holds 3 vertices and 1 face without area or with crossing edges"},
        {"--scene " + (folder / "broken.fbx").string(),
         (folder / "broken.fbx").string() + ": FBX-Parser (TOK_DATA, line 1, col 4) unexpected token"},
        {"--scene " + (folder / "points.ply").string(),
         (folder / "points.ply").string() + ": no geometry to render: the file holds 2 points and no faces"},
        {"--scene " + (folder / "level.bsp").string(),
         (folder / "level.bsp").string() + ": a .bsp level is read from inside its .pk3 package"},
        {"--scene " + (folder / "pipe.ply").string(),
         (folder / "pipe.ply").string() + ": is a FIFO (a named pipe), not a scene file"},
        {"--scene " + (folder / "gone.obj").string(),
         (folder / "gone.obj").string() + ": is a link to \"nothing.obj\", which does not exist"},
        {"--scene " + (folder / "zero.ply").string(), (folder / "zero.ply").string() + ": is a device, not a scene file"},
        {"--scene " + (folder / "passwd.gltf").string(),
         (folder / "passwd.gltf").string() +
             ": \"../../../../../../../../../../etc/passwd\" lies outside the scene's folder"},
        {"--scene '" + (folder / "new\nline.obj").string() + "'",
         (folder / "new\\nline.obj").string() + ": no such scene file"},
        {"--camera-name top", "--camera-name: the scene has no camera \"top\"; it has no cameras at all"},
        {"--camera 1,2,3:0,0,0:40 --camera-name top", "--camera and --camera-name both choose the camera"},
        {"--scale 0", "--scale: scene units per metre must be above 0"},
        {"--environment " + (folder / "bad.hdr").string(), (folder / "bad.hdr").string() + ": cannot read the HDR image"},
        {"--library " + std::string(WRONG_VERSION_SHADER), "Umbrex_version() is 2, but"},
        {"--library " + std::string(NOT_A_SHADER), "the library does not export Umbrex, the shader that"},
        {"--declaration " + (folder / "other.mi").string(), "the library does not export Other, the shader that"},
        {"--declaration " + (folder / "none.mi").string(), "cannot open the shader declaration"},
    };
    for (const auto &[arguments, message] : cases) {
        const ProgramRun run = render(arguments + " --width 8 --height 8 --output " + output);
        EXPECT_NE(run.exit_code, 0) << arguments;
        EXPECT_NE(run.messages.find(message), std::string::npos) << arguments << "\n" << run.messages;
        EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), '\n'), 1) << run.messages;
        EXPECT_EQ(run.messages.find("root:"), std::string::npos) << "no other file's bytes";
        EXPECT_FALSE(fs::exists(output)) << arguments;
    }

    for (const std::string &unwritable : {(folder / "no-folder" / "out.png").string(),
                                          (folder / "out.tiff").string()}) {
        const ProgramRun run = render("--width 8 --height 8 --output " + unwritable);
        EXPECT_NE(run.exit_code, 0);
        EXPECT_NE(run.messages.find(unwritable), std::string::npos) << run.messages;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 14)
        << "only the inputs remain";

    // A link planted where the image might be written first, under a name
    // made from the program's own id, is left alone, as is what it points to.
    const fs::path victim = folder / "victim.txt";
    std::ofstream(victim) << "precious";
    const fs::path image = folder / "linked.png";
    const pid_t child = fork();
    if (child == 0) {
        fs::create_symlink(victim, folder / (".linked.png.partial-" + std::to_string(getpid())));
        execl(UMBREX_RENDER, UMBREX_RENDER, "--width", "8", "--height", "8", "--output", image.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_png(image.string()).width, 8);
    std::ifstream kept(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
}

// What the input asks for may be odd without being wrong: the render goes on
// and a warning says what the shader and the reader make of it.
TEST_F(RenderTest, OddInputRendersWithAWarning)
{
    // A quad, a face without area and one whose edges cross.
    std::ofstream(folder / "faces.obj") << "v 0 0 0\nv 1 0 0\nv 1 0 1\nv 0 0 1\nv 2 0 0\n"
                                           "f 1 4 3 2\nf 1 2 5\nf 1 3 2 4\n";
    const ProgramRun faces = render("--scene " + (folder / "faces.obj").string() +
                                    " --width 8 --height 8 --output " + (folder / "faces.png").string());
    EXPECT_EQ(faces.exit_code, 0) << faces.messages;
    EXPECT_NE(faces.messages.find("warning: " + (folder / "faces.obj").string() +
                                  ": 2 faces have no area or crossing edges and could not be triangulated"),
              std::string::npos)
        << faces.messages;

    // A file name holding a newline, material libraries that are a FIFO, a
    // link to a device and a file outside the folder (none of them read,
    // none waited for), and a glTF buffer in a data: URI.
    fs::create_directory(folder / "odd");
    ASSERT_EQ(mkfifo((folder / "odd" / "pipe.mtl").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "odd" / "zero.mtl");
    std::ofstream(folder / "elsewhere.mtl") << "newmtl elsewhere\n";
    const fs::path odd = folder / "odd" / "new\nline.obj";
    std::ofstream(odd) << "mtllib pipe.mtl\nmtllib zero.mtl\nmtllib ../elsewhere.mtl\n"
                          "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const std::string shown = (folder / "odd" / "new\\nline.obj").string();
    const ProgramRun materials = render("--scene '" + odd.string() + "' --width 8 --height 8 --output " +
                                        (folder / "m.png").string());
    EXPECT_EQ(materials.exit_code, 0) << materials.messages;
    for (const std::string &refusal : {"\"pipe.mtl\" is a FIFO (a named pipe)\n",
                                       "\"zero.mtl\" lies outside the scene's folder\n",
                                       "\"../elsewhere.mtl\" lies outside the scene's folder\n"})
        EXPECT_NE(materials.messages.find("warning: " + shown + ": not read: " + refusal), std::string::npos)
            << materials.messages;
    const ProgramRun listed = render("--list --scene '" + odd.string() + "'");
    EXPECT_NE(listed.messages.find("\nscene: " + shown + "\nformat: Wavefront OBJ\n"), std::string::npos)
        << listed.messages;
    std::ofstream(folder / "data.gltf") << gltf_triangle(
        "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA");
    const ProgramRun data = render("--list --scene " + (folder / "data.gltf").string());
    EXPECT_NE(data.messages.find("\ntriangles: 1\nbounds: (0, 0, 0) to (1, 1, 0)\n"), std::string::npos)
        << data.messages;

    // A file's camera too far out to trace from: the scene is framed
    // instead; chosen by name, it is an error.
    std::string far = gltf_triangle("data:application/octet-stream;base64,"
                                    "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA");
    far.replace(far.find(R"("scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"), 46,
                R"("scenes":[{"nodes":[0,1]}],"nodes":[{"mesh":0},{"camera":0,"translation":[1e30,0,0]}],)"
                R"("cameras":[{"type":"perspective","perspective":{"yfov":0.7,"znear":0.1}}],)");
    std::ofstream(folder / "far.gltf") << far;
    const std::string far_camera = "--scene " + (folder / "far.gltf").string() + " --width 8 --height 8 --output " +
                                   (folder / "f.png").string();
    const ProgramRun framed = render(far_camera);
    EXPECT_EQ(framed.exit_code, 0) << framed.messages;
    EXPECT_NE(framed.messages.find("warning: camera \"nodes[1]\": the eye lies 1e+30 units from the scene's centre; "
                                   "rays can start at most 1e+18 away; framing the scene instead"),
              std::string::npos)
        << framed.messages;
    const ProgramRun named = render(far_camera + " --camera-name nodes[1]");
    EXPECT_EQ(named.exit_code, 2);
    EXPECT_NE(named.messages.find("camera \"nodes[1]\": the eye lies 1e+30 units"), std::string::npos)
        << named.messages;

    // A scene a thousandth of a unit across: the declaration's falloff_stop
    // of 10 is far beyond it, unless the look sets one; a camera looking
    // away sees none of it.
    std::ofstream(folder / "speck.obj") << "v 0 0 0\nv 0.001 0 0\nv 0 0.001 0\nf 1 2 3\n";
    const std::string speck = "--scene " + (folder / "speck.obj").string() + " --width 8 --height 8 --output " +
                              (folder / "s.png").string();
    const ProgramRun reach = render(speck);
    EXPECT_EQ(reach.exit_code, 0) << reach.messages;
    EXPECT_NE(reach.messages.find("warning: falloff_stop is the declaration's 10 scene units, far beyond the scene's "
                                  "size of 0.00141 units, so occlusion spans the whole scene; --set "
                                  "falloff_stop=0.0001 suits the scene"),
              std::string::npos)
        << reach.messages;
    EXPECT_EQ(render(speck + " --set falloff_stop=0.5").messages.find("warning"), std::string::npos);
    const ProgramRun away = render(speck + " --camera 0,0,1:0,0,2:40");
    EXPECT_NE(away.messages.find("warning: --camera sees no part of the scene"), std::string::npos) << away.messages;

    const ProgramRun negative = render("--set samples=-4 --width 8 --height 8 --output " + (folder / "n.png").string());
    EXPECT_EQ(negative.exit_code, 0) << negative.messages;
    EXPECT_NE(negative.messages.find("warning: samples is -4"), std::string::npos) << negative.messages;
    // The largest count the parameter holds, as given (the camera sees only sky).
    const ProgramRun most = render("--set samples=2147483647 --camera 0,100,0:0,200,0:10 --width 1 --height 1 "
                                   "--output " + (folder / "m.png").string());
    EXPECT_EQ(most.exit_code, 0) << most.messages;
    EXPECT_NE(most.messages.find("warning: samples is 2147483647: the shader traces that many probe rays"),
              std::string::npos)
        << most.messages;

    // Checker cells far smaller than a float can tell apart (under the
    // sanitizers, an overflowing cell index would stop the program).
    const ProgramRun tiny = render("--attach dark=checker:1e-30 --width 8 --height 8 --output " +
                                   (folder / "t.png").string());
    EXPECT_EQ(tiny.exit_code, 0) << tiny.messages;
}

// Files that once took umbrex-render down with them, as the mutation
// campaign found them: each gives one line naming it, whichever way the
// reader fails, and the look-dev server and --list read scenes the same way.
TEST_F(RenderTest, ScenesThatBreakTheirReaderGetOneLine)
{
    const auto write = [&](const char *name, const std::string &bytes) {
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return (folder / name).string();
    };
    // The file, how long it may take, and what became of its reader.
    const std::tuple<std::string, const char *, std::string> cases[] = {
        {write("crash.ply", std::string("ply\nformat binary_\0\0", 20)), "60",
         "the importer crashed on it (segmentation fault)"},
        {write("crash.nff", std::string("pnd 0\0" "0\xa0\xb0 ", 10)), "60", "the importer crashed on it (aborted)"},
        {write("no-end-header.ply", "ply\nformat ascii 1.0\n"), "1", "gave up after 1 s of reading (--import-timeout)"},
        {write("unended.smd", "version 1\n\nnodes\n  0 \"TriangleTes"), "1",
         "gave up after 1 s of reading (--import-timeout)"},
        {write("huge.off", "OFF4294967295 6"), "60", "the importer needed more than"},
    };
    const std::string output = (folder / "out.png").string();
    for (const auto &[scene, seconds, reason] : cases) {
        for (const std::string &mode : {" --output " + output, std::string(" --list"), std::string(" --serve --port 0")}) {
            const ProgramRun run = render("--scene " + scene + " --import-timeout " + seconds + mode);
            EXPECT_EQ(run.exit_code, 1) << scene << mode << "\n" << run.messages;
            EXPECT_EQ(run.messages.rfind("umbrex-render: " + scene + ": ", 0), 0u) << run.messages;
            EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), '\n'), 1) << run.messages;
#if !UMBREX_SANITIZED  // there the importer stops at its first fault with a report of its own
            EXPECT_NE(run.messages.find(reason), std::string::npos) << run.messages;
#endif
        }
    }
    EXPECT_FALSE(fs::exists(output));
}

// A declaration laying out fewer parameters than the library reads leaves the
// rest of the record zero: samples 0, so every visible pixel is bright.
TEST_F(RenderTest, AShortDeclarationRendersHarmlessly)
{
    std::ofstream(folder / "short.mi") << "declare shader color \"Umbrex\" (color \"bright\" default 0.5 0.25 1 1)\n"
                                          "version 1 end declare\n";
    const Image image = render_exr("--declaration " + (folder / "short.mi").string() +
                                   " --camera 0,3,3:0,0,0:30 --width 8 --height 8");
    for (const miColor &c : image.pixels) {
        ASSERT_EQ(c.r, 0.5f);
        ASSERT_EQ(c.g, 0.25f);
    }
}

#if !UMBREX_SANITIZED  // the sanitizers' shadow memory does not fit these limits
// With an address space too small for the image, or for every thread asked
// for: one line and no image, or the image with fewer threads and a warning.
TEST_F(RenderTest, ResourceLimitsGetOneLine)
{
    const std::string prefix = "bash -c 'ulimit -v 3000000; exec " + std::string(UMBREX_RENDER) + " ";
    const auto run_limited = [&](const std::string &arguments) {
        const std::string log = (folder / "limited.txt").string();
        const int status = std::system((prefix + arguments + "' > " + log + " 2>&1").c_str());
        std::ifstream file(log);
        return ProgramRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                          std::string(std::istreambuf_iterator<char>(file), {})};
    };
    const std::string image = (folder / "out.png").string();
    const ProgramRun huge = run_limited("--width 16384 --height 16384 --output " + image);
    EXPECT_EQ(huge.exit_code, 1) << huge.messages;
    EXPECT_NE(huge.messages.find("--width 16384 --height 16384: the image needs 8.0 GiB of memory"), std::string::npos)
        << huge.messages;
    EXPECT_FALSE(fs::exists(image));

    // The importer's memory is what this process may have, at most.
    std::ofstream(folder / "huge.off") << "OFF4294967295 6";
    const ProgramRun scene = run_limited("--list --scene " + (folder / "huge.off").string());
    EXPECT_EQ(scene.exit_code, 1) << scene.messages;
    EXPECT_NE(scene.messages.find("huge.off: the importer needed more than 2.9 GiB of memory"), std::string::npos)
        << scene.messages;

    const ProgramRun threads = run_limited("--width 64 --height 32 --threads 1000 --output " + image);
    EXPECT_EQ(threads.exit_code, 0) << threads.messages;
    EXPECT_NE(threads.messages.find("rendering threads could be started"), std::string::npos) << threads.messages;
    EXPECT_TRUE(fs::exists(image));
}
#endif

}  // namespace
