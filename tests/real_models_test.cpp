// umbrex-render on third-party models, fetched into .corpus/ by
// scripts/fetch-corpus.sh: meshes exported from modelling tools with and
// without normals, quads, a concave polygon, a scanned mesh and a CAD-style
// patch model. The checks are what a person looking at the pictures would
// see, not exact pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/render_run.h"

namespace fs = std::filesystem;

namespace {

class RealModels : public RenderTest {
protected:
    static std::string model(const std::string &name)
    {
        const std::string path = std::string(UMBREX_CORPUS) + "/" + name;
        if (!fs::exists(path))
            ADD_FAILURE() << path << " is missing: scripts/fetch-corpus.sh fetches it";
        return path;
    }

    // The model's OBJ text with every vertex moved by `move`, then turned by
    // `turn` (x, y, z) -> turn(x, y, z), written in full precision.
    std::string moved_copy(const std::string &name, DVec3 move, DVec3 (*turn)(DVec3), const std::string &extra = "")
    {
        std::ifstream in(model(name));
        const fs::path path = folder / ("moved-" + name);
        std::ofstream out(path);
        for (std::string line; std::getline(in, line);) {
            DVec3 p;
            if (std::sscanf(line.c_str(), "v %lf %lf %lf", &p.x, &p.y, &p.z) == 3) {
                p = turn(p + move);
                char text[128];
                std::snprintf(text, sizeof text, "v %.17g %.17g %.17g", p.x, p.y, p.z);
                line = text;
            }
            out << line << '\n';
        }
        out << extra;
        return path.string();
    }
};

DVec3 unturned(DVec3 p) { return p; }
DVec3 z_up(DVec3 p) { return {p.x, -p.z, p.y}; }

double mean_difference(const Image &a, const Image &b)
{
    EXPECT_EQ(a.pixels.size(), b.pixels.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        sum += std::abs(a.pixels[i].r - b.pixels[i].r) + std::abs(a.pixels[i].a - b.pixels[i].a);
    return sum / static_cast<double>(a.pixels.size());
}

const char *const models[] = {"WusonOBJ.obj", "spider.obj",  "regr01.obj", "box.obj",
                              "concave_polygon.obj", "bunny.obj", "teapot.obj"};

TEST_F(RealModels, EachIsFramedAsAPlausibleOcclusionPicture)
{
    for (const char *name : models) {
        const Image image = render_exr("--scene " + model(name) + " --width 96 --height 72");
        const std::size_t covered = covered_pixels(image);
        EXPECT_GT(covered, image.pixels.size() / 100) << name << ": the model is in view";
        EXPECT_LT(covered, image.pixels.size() * 9 / 10) << name << ": and all of it fits";
        std::size_t open = 0;
        for (const miColor &c : image.pixels) {
            ASSERT_TRUE(c.r >= 0.0f && c.r <= 1.0f) << name << ": " << c.r;
            open += c.a > 0.0f && c.r > 0.5f ? 1 : 0;
        }
        EXPECT_GT(open, covered / 2) << name << ": an object in open space is mostly open";
    }
}

// A ring written as one 66-corner polygon, seen face on: its middle is empty.
TEST_F(RealModels, ARingWrittenAsOnePolygonKeepsItsHole)
{
    const Image image = render_exr("--scene " + model("concave_polygon.obj") +
                                   " --camera=-5,2.4,2.35:0,2.4,2.35:20 --width 64 --height 64");
    EXPECT_EQ(image.pixels[32 * 64 + 32].a, 0.0f) << "the middle";
    EXPECT_LT(covered_pixels(image), image.pixels.size() / 5) << "only the band of the ring";
    EXPECT_GT(covered_pixels(image), image.pixels.size() / 50);
}

// Vertices no face uses change neither the framing nor the picture, however
// far away they are.
TEST_F(RealModels, AStrayVertexChangesNothing)
{
    const Image plain = render_exr("--scene " + model("bunny.obj") + " --width 64 --height 48");
    for (const char *stray : {"v 1e6 1e6 1e6\n", "v 1e19 0 0\nv nan 0 0\n"}) {
        const std::string obj = moved_copy("bunny.obj", {}, unturned, stray);
        const Image image = render_exr("--scene " + obj + " --width 64 --height 48");
        EXPECT_EQ(mean_difference(plain, image), 0.0) << stray;
    }
}

// The same model on a map grid, millions of units out, with the camera and a
// checker attachment given in its own coordinates: the same picture, contact
// occlusion and cells included.
TEST_F(RealModels, AModelFarFromTheOriginLooksTheSame)
{
    const std::string view = " --width 64 --height 48 --attach dark=checker:0.5 --set dark=0.2,0.1,0,1";
    const Image near = render_exr("--scene " + model("bunny.obj") + " --camera 1,2,8:0,1,0:30" + view);
    const std::string far = moved_copy("bunny.obj", {5e6, 0.0, -3e6}, unturned);
    const Image image = render_exr("--scene " + far + " --camera 5000001,2,-2999992:5000000,1,-3000000:30" + view);
    EXPECT_LT(mean_difference(near, image), 0.002);
}

// A Z-up model stands up with --up z, as its Y-up original does by default.
TEST_F(RealModels, AZUpModelStandsUpWithUpZ)
{
    const std::string view = " --width 64 --height 48";
    const Image original = render_exr("--scene " + model("teapot.obj") + view);
    const std::string turned = moved_copy("teapot.obj", {}, z_up);
    EXPECT_LT(mean_difference(original, render_exr("--scene " + turned + " --up z" + view)), 0.01);
    EXPECT_GT(mean_difference(original, render_exr("--scene " + turned + view)), 0.1) << "lying on its side";
}

}  // namespace
