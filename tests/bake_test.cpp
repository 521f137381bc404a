// umbrex-render --bake end to end: textures and vertex colours baked from
// scenes the tests build, read back and held against closed forms and what
// a person would see in the map.

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "tests/render_run.h"

namespace fs = std::filesystem;

namespace {

class Bake : public RenderTest {
protected:
    // Bakes to EXR and reads it back, failing the test on an error.
    Image bake_exr(const std::string &arguments)
    {
        const std::string path = (folder / "baked.exr").string();
        const ProgramRun run = render("--bake texture " + arguments + " --output " + path);
        EXPECT_EQ(run.exit_code, 0) << run.messages;
        messages = run.messages;
        return read_exr(path);
    }

    std::string messages;  // of the last bake
};

// The mean of the red channel over the texels a bake covered.
double covered_mean(const Image &image)
{
    double sum = 0.0;
    for (const miColor &c : image.pixels)
        sum += c.a > 0.0f ? c.r : 0.0;
    return sum / static_cast<double>(covered_pixels(image));
}

// A ground of half size 1, its UVs the whole texture, under a ceiling at
// height 1 that reaches 9 units past it on every side and has no UVs.
Mesh ground_under_ceiling()
{
    Mesh scene = make_ground(1.0f);
    Mesh ceiling = make_ground(10.0f);
    for (Vec3 &p : ceiling.positions)
        p.y = 1.0f;
    ceiling.uv_sets.clear();
    scene.append(ceiling);
    return scene;
}

// The closed form of the render test, (1 - h / s)^2 = a quarter for a
// falloff to twice the ceiling's height, over every texel of the ground:
// each texel shaded where it lies on the ground, facing the ceiling.
TEST_F(Bake, APlaneUnderACeilingMatchesTheClosedForm)
{
    const std::string scene = write_obj(ground_under_ceiling());
    const std::string look =
        " --set samples=256 --set falloff_start=0 --set falloff_stop=2 --bake-size 32x16 --padding 0";
    const Image image = bake_exr("--scene " + scene + look);
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 16);
    EXPECT_EQ(covered_pixels(image), image.pixels.size()) << "the ground's UVs cover the whole texture";
    EXPECT_NEAR(1.0 - covered_mean(image), 0.25, 0.01);
    EXPECT_NE(messages.find("2 triangles have no area in UV set 1"), std::string::npos) << messages;
    EXPECT_NE(messages.find("32x16 texels, 256 samples, 512 texels baked, 131072 probe rays"), std::string::npos)
        << messages;

    // The same, baked onto a plane 0.4 above the ground from the scene as a
    // high model: its normal meets the ground 0.4 below and the ceiling 0.6
    // above, and the nearer is shaded (the ceiling, open above, would be
    // bright).
    Mesh low = make_ground(1.0f);
    for (Vec3 &p : low.positions)
        p.y = 0.4f;
    const Image projected =
        bake_exr("--scene " + write_obj(low, "low.obj") + " --bake-from " + scene + " --cage 0.7" + look);
    EXPECT_EQ(covered_pixels(projected), projected.pixels.size());
    EXPECT_NEAR(1.0 - covered_mean(projected), 0.25, 0.01);
    // 0.6 above the ground the ceiling is the nearer, and bright.
    for (Vec3 &p : low.positions)
        p.y = 0.6f;
    const Image nearer_ceiling =
        bake_exr("--scene " + write_obj(low, "low.obj") + " --bake-from " + scene + " --cage 0.7" + look);
    EXPECT_EQ(covered_mean(nearer_ceiling), 1.0);
}

// A closed box seen from outside: every probe from an outside face leaves
// into open space. Its six faces lie side by side in the texture, each in a
// cell of 50 by 50 texels here, inset by a fiftieth on every side: 48 by 48
// texels each, none left out along the diagonal the two halves share. With
// jittered points, texels along the faces' edges are partly covered, and
// still the mean of their covered points.
TEST_F(Bake, TheOutsideOfAClosedCubeIsAllBright)
{
    const std::string box = "--scene " + write_obj(make_box({0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 0.3f));
    for (const char *size : {" --bake-size 150x100", " --bake-size 99x99 --aa 4"}) {
        const Image image = bake_exr(box + size + " --padding 0 --set samples=64");
        EXPECT_EQ(messages.find("overlap"), std::string::npos) << messages;
        for (const miColor &c : image.pixels) {
            if (c.a > 0.0f)
                ASSERT_EQ(c.r, 1.0f) << size;
        }
        if (image.width == 150)
            EXPECT_EQ(covered_pixels(image), 6u * 48u * 48u);
    }
}

// A bilinear lookup at (x, y) in texels from the top left, as a renderer
// filters a texture: texel centres at half-texel positions.
miColor filtered(const Image &image, double x, double y)
{
    const int x0 = static_cast<int>(std::floor(x - 0.5)), y0 = static_cast<int>(std::floor(y - 0.5));
    const auto fx = static_cast<float>(x - 0.5 - x0), fy = static_cast<float>(y - 0.5 - y0);
    miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
            const miColor &c = image.pixels[static_cast<std::size_t>(y0 + j) * image.width + (x0 + i)];
            const float w = (i ? fx : 1.0f - fx) * (j ? fy : 1.0f - fy);
            sum = {sum.r + c.r * w, sum.g + c.g * w, sum.b + c.b * w, sum.a + c.a * w};
        }
    }
    return sum;
}

// A sphere resting on the ground, its longitude over the middle three
// quarters of the texture: the seam's two sides meet at u = 1/8 and 7/8.
// Filtered right at those island edges, half of each lookup falls on the
// padding; with the padding it is the seam's own value on both sides.
TEST_F(Bake, ASphereSeamIsContinuousAfterPadding)
{
    Mesh scene = make_ground(5.0f);
    scene.uv_sets.clear();
    Mesh sphere = make_sphere({0.0f, 1.0f, 0.0f}, 1.0f, 64, 32);
    place_uvs(sphere, 0.125f, 0.0f, 0.75f, 1.0f);
    scene.append(sphere);
    const Image image = bake_exr("--scene " + write_obj(scene) + " --bake-size 64x32 --set samples=256");
    for (int y = 4; y < 28; ++y) {
        const miColor left = filtered(image, 8.0, y + 0.5), right = filtered(image, 56.0, y + 0.5);
        EXPECT_NEAR(left.a, 1.0f, 1e-6f) << "row " << y;
        EXPECT_NEAR(right.a, 1.0f, 1e-6f) << "row " << y;
        EXPECT_NEAR(left.r, right.r, 0.06f) << "row " << y;
    }
    EXPECT_LT(filtered(image, 32.0, 30.5).r, 0.7f) << "the sphere is dark where it meets the ground";
}

// Ridges across a high-resolution plane, h = 0.2 (1 - cos(2 pi x / 0.5)),
// crevices at every half unit, tops 0.4 high between them; the low model a
// flat plane at 0.2 with its UVs over the texture.
TEST_F(Bake, AFlatLowPlaneShowsTheHighPlanesCrevicesWhereTheyAre)
{
    std::ofstream high(folder / "ridges.obj");
    constexpr int steps = 200;
    for (int i = 0; i <= steps; ++i) {
        const double x = -1.0 + 2.0 * i / steps;
        const double h = 0.2 * (1.0 - std::cos(2.0 * 3.14159265358979 * x / 0.5));
        high << "v " << x << ' ' << h << " -1\nv " << x << ' ' << h << " 1\n";
    }
    for (int i = 0; i < steps; ++i)
        high << "f " << 2 * i + 1 << ' ' << 2 * i + 2 << ' ' << 2 * i + 4 << ' ' << 2 * i + 3 << '\n';
    high.close();
    Mesh low = make_ground(1.0f);
    for (Vec3 &p : low.positions)
        p.y = 0.2f;

    // Texel column c lies at x = (c + 0.5) / 32 - 1: tops at columns
    // 7.5 + 16 k, crevices at 15.5 + 16 k.
    const std::string bake = "--scene " + write_obj(low) + " --bake-from " + (folder / "ridges.obj").string() +
                             " --bake-size 64x4 --padding 0 --set samples=64 --set falloff_stop=0.5";
    const Image image = bake_exr(bake + " --cage 0.25");
    const auto between = [&](int a, int b) {
        double sum = 0.0;
        for (int y = 0; y < 4; ++y) {
            for (const int x : {a, b})
                sum += image.pixels[static_cast<std::size_t>(y) * 64 + x].r;
        }
        return sum / 8.0;
    };
    for (int k = 0; k < 3; ++k) {
        const double top = between(16 * k + 7, 16 * k + 8), crevice = between(16 * k + 15, 16 * k + 16);
        EXPECT_GT(top, 0.9) << "ridge " << k;
        EXPECT_LT(crevice, 0.8 * top) << "crevice " << k;
    }
    EXPECT_EQ(covered_pixels(image), image.pixels.size());

    // Within 0.1 of the low plane the high one lies only on the ridges'
    // flanks; texels over the crevices and the tops find nothing.
    const Image near = bake_exr(bake + " --cage 0.1");
    EXPECT_EQ(near.pixels[7].a, 0.0f) << "a top";
    EXPECT_EQ(near.pixels[15].a, 0.0f) << "a crevice";
    EXPECT_EQ(near.pixels[11].a, 1.0f) << "a flank";
    const std::string missed = std::to_string(image.pixels.size() - covered_pixels(near)) + " of 256 covered texels "
                               "find no surface of " + (folder / "ridges.obj").string() + " within --cage 0.1";
    EXPECT_NE(messages.find(missed), std::string::npos) << messages;
}

const aiMesh &read_mesh(Assimp::Importer &importer, const std::string &path)
{
    const aiScene *scene = importer.ReadFile(path, 0);
    EXPECT_TRUE(scene && scene->mNumMeshes == 1) << path << ": " << importer.GetErrorString();
    static const aiMesh none;
    return scene && scene->mNumMeshes == 1 ? *scene->mMeshes[0] : none;
}

// A ground of half size 1 with UVs and vertices shared by its two
// triangles, under a ceiling of half size 10 at height 1 without UVs.
const char *const shared_ground_under_ceiling =
    "v -1 0 -1\nv -1 0 1\nv 1 0 1\nv 1 0 -1\nvt 0 1\nvt 0 0\nvt 1 0\nvt 1 1\n"
    "v -10 1 -10\nv -10 1 10\nv 10 1 10\nv 10 1 -10\n"
    "o ground\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\no ceiling\nf 5 6 7\nf 5 7 8\n";

// The vertex bake read back by Assimp: without tracing every colour is
// bright, exactly in glTF's floats and as PLY's bytes round an 8-bit sRGB
// PNG's (sRGB(0.25) = 0.5371, 137 of 255; truncated it would be 136).
// glTF is Y-up in metres: a Z-up scene in centimetres is turned, (x, y, z)
// to (x, z, -y), and scaled by a hundredth.
TEST_F(Bake, VertexColoursAreReadBackFromGltfAndPly)
{
    std::ofstream(folder / "scene.obj") << shared_ground_under_ceiling;
    const std::string scene = (folder / "scene.obj").string();
    const std::string plain = "--bake vertices --scene " + scene + " --set trace=off --set bright=0.25,0.5,0.75,1";
    const std::string glb = (folder / "baked.glb").string(), ply = (folder / "baked.ply").string();
    ASSERT_EQ(render(plain + " --up z --scale 100 --output " + glb).exit_code, 0);
    ASSERT_EQ(render(plain + " --output " + ply).exit_code, 0);

    Assimp::Importer gltf_reader, ply_reader;
    const aiMesh &gltf = read_mesh(gltf_reader, glb), &mesh = read_mesh(ply_reader, ply);
    for (const aiMesh *m : {&gltf, &mesh}) {
        ASSERT_TRUE(m->mColors[0]);
        EXPECT_EQ(m->mNumVertices, 8u);
        EXPECT_EQ(m->mNumFaces, 4u);
    }
    int ground = 0;
    for (unsigned v = 0; v < gltf.mNumVertices; ++v) {
        EXPECT_EQ(gltf.mColors[0][v], aiColor4D(0.25f, 0.5f, 0.75f, 1.0f));
        EXPECT_NEAR(mesh.mColors[0][v].r, 137.0f / 255.0f, 1e-6f);
        EXPECT_EQ(mesh.mColors[0][v].a, 1.0f);
        const aiVector3D &p = gltf.mVertices[v];
        const bool on_ground = p.z == 0.0f;
        ground += on_ground;
        EXPECT_NEAR(p.z, on_ground ? 0.0f : -0.01f, 1e-9f);
        EXPECT_NEAR(std::abs(p.x), on_ground ? 0.01f : 0.1f, 1e-9f);
        EXPECT_NEAR(std::abs(p.y), on_ground ? 0.01f : 0.1f, 1e-9f);
    }
    EXPECT_EQ(ground, 4);

    // Traced: each of the ground's corners sees the ceiling's quarter.
    ASSERT_EQ(render("--bake vertices --scene " + scene + " --aa 8 --set samples=256 --set falloff_stop=2 --output " +
                     glb).exit_code, 0);
    Assimp::Importer traced_reader;
    const aiMesh &traced = read_mesh(traced_reader, glb);
    for (unsigned v = 0; v < traced.mNumVertices; ++v) {
        if (traced.mVertices[v].y == 0.0f)
            EXPECT_NEAR(traced.mColors[0][v].r, 0.75f, 0.03f) << v;
    }

    // The ceiling hidden is not there: neither written nor occluding.
    ASSERT_EQ(render("--bake vertices --scene " + scene + " --hide ceiling --set falloff_stop=2 --output " + glb)
                  .exit_code, 0);
    Assimp::Importer open_reader;
    const aiMesh &open = read_mesh(open_reader, glb);
    EXPECT_EQ(open.mNumVertices, 4u);
    for (unsigned v = 0; v < open.mNumVertices; ++v)
        EXPECT_EQ(open.mColors[0][v].r, 1.0f) << v;
}

TEST_F(Bake, BadInputGetsOneLineAndNoFile)
{
    const std::string output = (folder / "out.png").string();
    const std::string no_uvs = (folder / "no-uvs.obj").string(), outside = (folder / "outside.obj").string();
    std::ofstream(no_uvs) << "v 0 0 0\nv 1 0 0\nv 0 0 1\nf 1 2 3\n";
    std::ofstream(outside) << "v 0 0 0\nv 1 0 0\nv 0 0 1\nvt 2 2\nvt 3 2\nvt 2 3\nf 1/1 2/2 3/3\n";
    const std::string far = (folder / "far.obj").string();
    std::ofstream(far) << "v 0 5 0\nv 1 5 0\nv 0 5 1\nf 1 2 3\n";
    const std::string with_uvs = write_obj(make_ground(1.0f));
    const std::pair<std::string, std::string> cases[] = {
        {"--bake texture --scene " + no_uvs,
         no_uvs + ": the scene has no texture coordinates to bake a texture over; --bake vertices bakes it"},
        {"--bake texture --scene " + with_uvs + " --uv 2", "--uv 2: " + with_uvs + " has 1 UV set"},
        {"--bake texture --scene " + outside, outside + ": no triangle of UV set 1 covers a texel of the texture"},
        {"--bake texture --bake-size 8x0", "--bake-size takes N or NxM texels, each 1 to 16384: 0 is not in the range"},
        {"--bake texture --bake-size 8x", "--bake-size takes N or NxM texels"},
        {"--bake texture --width 8", "excludes"},
        {"--bake paint", "--bake"},
        {"--uv 1", "--uv requires --bake"},
        {"--bake vertices --output " + (folder / "out.obj").string(), "a vertex bake is written as .glb or .ply"},
        {"--bake vertices --padding 4 --output " + (folder / "out.glb").string(),
         "--bake-size, --uv and --padding go with --bake texture"},
        {"--bake texture --scene " + with_uvs + " --bake-from " + (folder / "none.obj").string(),
         (folder / "none.obj").string() + ": no such scene file"},
        {"--bake texture --scene " + with_uvs + " --bake-from " + with_uvs + " --cage 0",
         "--cage: the distance must be above 0"},
        {"--bake texture --scene " + with_uvs + " --bake-from " + far + " --cage 0.5",
         far + ": no texel finds its surface within --cage 0.5 of " + with_uvs},
    };
    for (const auto &[arguments, message] : cases) {
        const bool named = arguments.find("--output") != std::string::npos;
        const ProgramRun run = render(arguments + (named ? "" : " --output " + output));
        EXPECT_NE(run.exit_code, 0) << arguments;
        EXPECT_NE(run.messages.find(message), std::string::npos) << arguments << "\n" << run.messages;
        EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), '\n'), 1) << run.messages;
        EXPECT_FALSE(fs::exists(output)) << arguments;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 4) << "only the inputs remain";
}

}  // namespace
