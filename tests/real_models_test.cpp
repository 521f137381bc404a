// umbrex-render on third-party models, fetched into .corpus/ by
// scripts/fetch-corpus.sh: meshes exported from modelling tools with and
// without normals, quads, a concave polygon, a scanned mesh and a CAD-style
// patch model, and one file of each format Assimp reads for it (glTF, GLB,
// FBX, Collada, PLY, STL). The checks are what a person looking at the
// pictures would see, not exact pixels.

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

// An OBJ's vertices and triangles as an ASCII FBX whose settings state that
// Z is up.
std::string z_up_fbx(const std::string &obj, const fs::path &fbx)
{
    std::ifstream in(obj);
    std::ostringstream vertices, indices;
    std::size_t vertex_count = 0, index_count = 0;
    for (std::string line; std::getline(in, line);) {
        double x, y, z;
        long a, b, c;
        if (std::sscanf(line.c_str(), "v %lf %lf %lf", &x, &y, &z) == 3) {
            vertices << (vertex_count ? "," : "") << x << ',' << y << ',' << z;
            vertex_count += 3;
        } else if (std::sscanf(line.c_str(), "f %ld %ld %ld", &a, &b, &c) == 3) {
            // A polygon's last corner is stored as -(index + 1).
            indices << (index_count ? "," : "") << a - 1 << ',' << b - 1 << ',' << -c;
            index_count += 3;
        }
    }
    std::ofstream(fbx) << "; FBX 7.4.0 project file\nFBXHeaderExtension: {\n FBXHeaderVersion: 1003\n"
                          " FBXVersion: 7400\n}\nGlobalSettings: {\n Version: 1000\n Properties70: {\n"
                          "  P: \"UpAxis\", \"int\", \"Integer\", \"\",2\n }\n}\nObjects: {\n"
                          " Geometry: 1, \"Geometry::model\", \"Mesh\" {\n  Vertices: *"
                       << vertex_count << " {\n   a: " << vertices.str() << "\n  }\n  PolygonVertexIndex: *"
                       << index_count << " {\n   a: " << indices.str()
                       << "\n  }\n }\n Model: 2, \"Model::model\", \"Mesh\" {\n  Version: 232\n }\n}\n"
                          "Connections: {\n C: \"OO\",2,0\n C: \"OO\",1,2\n}\n";
    return fbx.string();
}

double mean_difference(const Image &a, const Image &b)
{
    EXPECT_EQ(a.pixels.size(), b.pixels.size());
    double sum = 0.0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        sum += std::abs(a.pixels[i].r - b.pixels[i].r) + std::abs(a.pixels[i].a - b.pixels[i].a);
    return sum / static_cast<double>(a.pixels.size());
}

const char *const models[] = {"WusonOBJ.obj", "spider.obj", "regr01.obj", "box.obj", "concave_polygon.obj",
                              "bunny.obj", "teapot.obj", "Wuson.ply", "Wuson.stl", "2CylinderEngine.glb",
                              "gltf-cameras/Cameras.gltf", "cubes_with_names.fbx", "duck.dae",
                              "teapot_instancenodes.dae"};

// The first lines of --list that start with `key`, after it.
std::string listed(const std::string &listing, const std::string &key)
{
    const auto at = listing.find("\n" + key);
    if (at == std::string::npos)
        return "(no " + key + ")";
    const auto start = at + 1 + key.size();
    return listing.substr(start, listing.find('\n', start) - start);
}

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

// A Z-up model stands up with --up z, as its Y-up original does by default,
// and without it where its file says that Z is up.
TEST_F(RealModels, AZUpModelStandsUpWithUpZ)
{
    const std::string view = " --width 64 --height 48";
    const Image original = render_exr("--scene " + model("teapot.obj") + view);
    const std::string turned = moved_copy("teapot.obj", {}, z_up);
    EXPECT_LT(mean_difference(original, render_exr("--scene " + turned + " --up z" + view)), 0.01);
    EXPECT_GT(mean_difference(original, render_exr("--scene " + turned + view)), 0.1) << "lying on its side";
    const std::string stated = z_up_fbx(turned, folder / "z-up.fbx");
    EXPECT_LT(mean_difference(original, render_exr("--scene " + stated + view)), 0.01) << "the file's UpAxis";
}

// What --list tells of one file per format: counts a person can check
// against the file, the same model alike in three formats, instances
// counted, units and cameras as the files state them.
TEST_F(RealModels, ListDescribesEachFormat)
{
    const auto list = [&](const std::string &name, const std::string &options = "") {
        const ProgramRun run = render("--list --scene " + model(name) + options);
        EXPECT_EQ(run.exit_code, 0) << run.messages;
        return "\n" + run.messages;
    };
    const std::string obj = list("WusonOBJ.obj");
    for (const char *name : {"Wuson.ply", "Wuson.stl"}) {
        const std::string other = list(name);
        EXPECT_EQ(listed(other, "triangles: "), "3732") << name;
        DVec3 a_low, a_high, b_low, b_high;
        const char *format = "(%lf, %lf, %lf) to (%lf, %lf, %lf)";
        ASSERT_EQ(std::sscanf(listed(obj, "bounds: ").c_str(), format, &a_low.x, &a_low.y, &a_low.z, &a_high.x,
                              &a_high.y, &a_high.z), 6);
        ASSERT_EQ(std::sscanf(listed(other, "bounds: ").c_str(), format, &b_low.x, &b_low.y, &b_low.z, &b_high.x,
                              &b_high.y, &b_high.z), 6);
        EXPECT_LT(length(a_low - b_low) + length(a_high - b_high), 1e-6) << name;
        EXPECT_EQ(listed(other, "units: "), "not stated by the file (--scale states them)");
    }
    EXPECT_EQ(listed(list("Wuson.stl", " --scale 1000"), "units: "), "1000 per metre (--scale)");

    const std::string teapots = list("teapot_instancenodes.dae");
    EXPECT_EQ(listed(teapots, "triangles: "), "2048") << "one teapot of 1024, placed twice";
    EXPECT_NE(teapots.find("\"Teapot01-mesh\": 1024 triangles, placed 2 times"), std::string::npos) << teapots;

    // The duck's camera node stands at (400.113, 463.264, -431.078) cm with
    // a vertical field of view of 37.8492 degrees.
    const std::string duck = list("duck.dae");
    EXPECT_EQ(listed(duck, "units: "), "1 per metre (the importer converts the file's <unit> to metres)");
    EXPECT_EQ(listed(duck, "UV sets: "), "1");
    EXPECT_EQ(listed(list("bunny.obj"), "UV sets: "), "0");
    DVec3 eye;
    const std::string camera = listed(duck, "  \"camera1\": eye ");
    ASSERT_EQ(std::sscanf(camera.c_str(), "(%lf, %lf, %lf)", &eye.x, &eye.y, &eye.z), 3) << camera;
    EXPECT_LT(length(eye - DVec3{4.00113, 4.63264, -4.31078}), 1e-6);
    EXPECT_NE(camera.find("vertical field of view 37.85 degrees"), std::string::npos) << camera;

    // A glTF camera node at (0.5, 0.5, 3) with a vertical field of view of
    // 0.7 radians, and an orthographic one.
    const std::string gltf = list("gltf-cameras/Cameras.gltf");
    EXPECT_EQ(listed(gltf, "up: "), "+Y (glTF is Y-up)");
    EXPECT_EQ(listed(gltf, "  \"nodes[1]\": "),
              "eye (0.5, 0.5, 3), looking along (0, 0, -1), vertical field of view 40.11 degrees");
    EXPECT_NE(listed(gltf, "  \"nodes[2]\": ").find("orthographic"), std::string::npos);

    const std::string spider = list("spider.fbx");
    EXPECT_EQ(listed(spider, "units: "), "100 per metre (the file's UnitScaleFactor: 1 unit is 1 cm)");
    EXPECT_EQ(listed(spider, "up: "), "+Y (the file's UpAxis)");
    EXPECT_EQ(listed(spider, "cameras: "), "1");
}

// The scanned Wuson as OBJ and PLY (smooth normals) and STL (flat facets):
// the same picture.
TEST_F(RealModels, OneModelInThreeFormatsLooksTheSame)
{
    const std::string view = " --width 64 --height 48";
    const Image obj = render_exr("--scene " + model("WusonOBJ.obj") + view);
    EXPECT_LT(mean_difference(obj, render_exr("--scene " + model("Wuson.ply") + view)), 0.01);
    EXPECT_LT(mean_difference(obj, render_exr("--scene " + model("Wuson.stl") + view)), 0.01);
    EXPECT_GT(mean_difference(obj, render_exr("--scene " + model("Wuson.stl") + view + " --up z")), 0.1)
        << "seen from another side";
}

// With no --camera a file's first camera is used; --camera-name picks one.
TEST_F(RealModels, AFilesOwnCameraFramesItsPicture)
{
    const std::string duck = "--scene " + model("duck.dae") + " --width 48 --height 32";
    const Image first = render_exr(duck);
    EXPECT_EQ(mean_difference(first, render_exr(duck + " --camera-name camera1")), 0.0);
    EXPECT_GT(mean_difference(first, render_exr(duck + " --camera 2,2,2:0,0.8,0:40")), 0.1);
    EXPECT_GT(covered_pixels(first), first.pixels.size() / 20) << "the duck is in the camera's view";

    const ProgramRun unknown = render(duck + " --camera-name camera2 --output " + (folder / "x.png").string());
    EXPECT_NE(unknown.exit_code, 0);
    EXPECT_NE(unknown.messages.find("no camera \"camera2\"; its cameras are \"camera1\""), std::string::npos)
        << unknown.messages;
}

// The duck's map: its two mirrored halves share one UV layout, which the
// bake warns of; most of a duck in open space is open, its creases (the
// bill, the eye) dark.
TEST_F(RealModels, TheDuckBakesToAPlausibleMap)
{
    const std::string path = (folder / "duck.exr").string();
    const ProgramRun run = render("--bake texture --bake-size 128 --padding 0 --scene " + model("duck.dae") +
                                  " --output " + path);
    ASSERT_EQ(run.exit_code, 0) << run.messages;
    EXPECT_NE(run.messages.find("warning: UV islands overlap"), std::string::npos) << run.messages;
    const Image map = read_exr(path);
    const std::size_t covered = covered_pixels(map);
    EXPECT_GT(covered, map.pixels.size() * 2 / 5);
    EXPECT_LT(covered, map.pixels.size() * 4 / 5) << "islands, with room between them";
    std::size_t open = 0, dark = 0;
    for (const miColor &c : map.pixels) {
        if (c.a == 0.0f)
            continue;
        ASSERT_TRUE(c.r >= 0.0f && c.r <= 1.0f) << c.r;
        open += c.r > 0.8f;
        dark += c.r < 0.5f;
    }
    EXPECT_GT(open, covered * 7 / 10);
    EXPECT_GT(dark, covered / 200);
}

}  // namespace
