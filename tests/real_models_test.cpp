// umbrex-render on third-party models, fetched into .corpus/ by
// scripts/fetch-corpus.sh: meshes exported from modelling tools with and
// without normals, quads, a concave polygon, a scanned mesh and a CAD-style
// patch model, one file of each format Assimp reads for it (glTF, GLB,
// FBX, Collada, PLY, STL), and scenes to be taken as their authors meant
// them: skinned, with an animated camera, with stated units and up axes,
// named objects, and files without faces. The checks are what a person looking at the
// pictures would see, not exact pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
DVec3 x_down(DVec3 p) { return {-p.y, p.x, p.z}; }

// The two corners of --list's bounds.
std::pair<DVec3, DVec3> bounds_listed(const std::string &text)
{
    DVec3 low{NAN, NAN, NAN}, high = low;
    std::sscanf(text.c_str(), "(%lf, %lf, %lf) to (%lf, %lf, %lf)", &low.x, &low.y, &low.z, &high.x, &high.y,
                &high.z);
    return {low, high};
}

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
                              "teapot_instancenodes.dae", "BCN_Epileptic.x", "box.3mf", "AC14-FZK-Haus.ifc",
                              "SphereWithLight.ac"};

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
    // Lying with its up along -X.
    const std::string down = moved_copy("teapot.obj", {}, x_down);
    EXPECT_LT(mean_difference(original, render_exr("--scene " + down + " --up=-x" + view)), 0.01);
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

    // A printer part 10 by 20 by 30 mm, Z-up by definition; a house the
    // importer turns to Y-up in metres.
    const std::string part = list("box.3mf");
    EXPECT_EQ(listed(part, "units: "), "1000 per metre (the model's unit, millimeter)");
    EXPECT_EQ(listed(part, "up: "), "+Z (3MF is Z-up)");
    EXPECT_EQ(listed(part, "reach: "), "the scene is 37.4 units across; --set falloff_stop=4 suits it (a tenth of "
                                       "that, 0.004 m)");
    const std::string house = list("AC14-FZK-Haus.ifc");
    EXPECT_EQ(listed(house, "units: "), "1 per metre (the importer converts the file's length unit to metres)");
    EXPECT_EQ(listed(house, "up: "), "+Y (the importer turns IFC's Z-up to Y)");

    // Objects named by the nodes that hold them.
    EXPECT_EQ(listed(list("SphereWithLight.ac"), "  \""), "sphere\": 17664 triangles");

    // The 3DS camera stands at the file's (-65.87, 16.12, -2.43), Z-up,
    // looking toward its target (100.41, 28.22, 0): along +X, not up.
    const std::string target = listed(list("TargetCameraAnim.3ds"), "  \"Camera01\": eye ");
    DVec3 target_eye, along;
    ASSERT_EQ(std::sscanf(target.c_str(), "(%lf, %lf, %lf), looking along (%lf, %lf, %lf)", &target_eye.x,
                          &target_eye.y, &target_eye.z, &along.x, &along.y, &along.z), 6)
        << target;
    EXPECT_LT(length(target_eye - DVec3{-65.8677, -2.42502, -16.1213}), 1e-3);
    EXPECT_GT(along.x, 0.99);

    // Files without faces say what they hold; the orthographic camera is named.
    const std::string cameras = list("cameras.dae");
    EXPECT_EQ(listed(cameras, "holds: "), "3 cameras, 4 nodes and no faces");
    EXPECT_EQ(listed(cameras, "  \"Camera_002\": "),
              "cannot be used: camera \"Camera_002\" is orthographic; umbrex-render renders pinhole cameras only");
    EXPECT_EQ(listed(list("01_01.bvh"), "holds: "), "a skeleton of 34 joints and no faces");
    EXPECT_EQ(listed(list("points.ply"), "holds: "), "4 points and no faces");

    // Meshes left out by name, as the listing counts them: "body", 191
    // triangles placed 4 times, of 121496; or only the node placing one.
    EXPECT_EQ(listed(list("2CylinderEngine.glb", " --hide body"), "triangles: "), "120732");
    const std::string one = list("2CylinderEngine.glb", " --only nodes[80]");
    EXPECT_EQ(listed(one, "triangles: "), "191");
    EXPECT_EQ(listed(one, "  \"body\": "), "191 triangles, hidden in 3 places (nodes \"nodes[80]\", \"nodes[79]\", "
                                            "\"nodes[69]\", \"nodes[68]\")");
}

// A skinned character stands as its skeleton poses it, upright with its
// head on its neck; a skinned strip whose upper joint is moved moves the
// vertices that joint holds by the joint's offset times their weight.
TEST_F(RealModels, SkinnedMeshesArePosedByTheirSkeleton)
{
    const auto bounds = [&](const std::string &scene, const std::string &options = "") {
        const ProgramRun run = render("--list --scene " + scene + options);
        EXPECT_EQ(run.exit_code, 0) << run.messages;
        return bounds_listed(listed("\n" + run.messages, "bounds: "));
    };
    const auto [low, high] = bounds(model("BCN_Epileptic.x"));
    EXPECT_GT(high.y - low.y, 3.0 * std::max(high.x - low.x, high.z - low.z)) << "standing along +Y";
    const auto head = bounds(model("BCN_Epileptic.x"), " --only Head");
    const auto torso = bounds(model("BCN_Epileptic.x"), " --only Torso");
    EXPECT_LT(head.first.y, torso.second.y) << "the head's lowest point within the torso's neck";
    EXPECT_GT(head.first.y, torso.second.y - 0.15);

    // The strip's top vertices (y = 2) are held by joint 2 alone; moved
    // one unit along x, they reach x = 0.5 + 1.
    std::ifstream in(model("simple_skin.gltf"));
    std::string gltf(std::istreambuf_iterator<char>(in), {});
    const std::string rest = "\"rotation\" : [ 0.0, 0.0, 0.0, 1.0 ]";
    ASSERT_NE(gltf.find(rest), std::string::npos);
    gltf.replace(gltf.find(rest), rest.size(), "\"translation\" : [ 1.0, 0.0, 0.0 ]");
    std::ofstream(folder / "moved_skin.gltf") << gltf;
    const auto [strip_low, strip_high] = bounds(model("simple_skin.gltf"));
    EXPECT_LT(length(strip_low - DVec3{-0.5, 0, 0}) + length(strip_high - DVec3{0.5, 2, 0}), 1e-6);
    const auto [moved_low, moved_high] = bounds((folder / "moved_skin.gltf").string());
    EXPECT_LT(length(moved_low - DVec3{-0.5, 0, 0}) + length(moved_high - DVec3{1.5, 2, 0}), 1e-6);
}

// Helper geometry of a few triangles reaching far past the model is set
// aside from the framing, named; hidden, it neither shows nor occludes.
TEST_F(RealModels, HelperGeometryIsSetAsideOrHidden)
{
    const std::string view = " --width 64 --height 48";
    const std::string plane = "o wake\nv -400 -1 -400\nv 400 -1 -400\nv 400 -1 400\nv -400 -1 400\nf -4 -3 -2 -1\n";
    const std::string scene = moved_copy("bunny.obj", {}, unturned, plane);
    const ProgramRun run = render("--scene " + scene + view + " --output " + (folder / "wake.png").string());
    EXPECT_EQ(run.exit_code, 0) << run.messages;
    EXPECT_NE(run.messages.find("warning: the framing leaves out \"wake\": each holds under 1 % of the triangles"),
              std::string::npos) << run.messages;
    const Image bunny = render_exr("--scene " + model("bunny.obj") + view);
    const Image framed = render_exr("--scene " + scene + view);
    EXPECT_GT(covered_pixels(framed), covered_pixels(bunny)) << "the plane shows";
    EXPECT_EQ(mean_difference(bunny, render_exr("--scene " + scene + view + " --hide wake")), 0.0);

    // Far to the side, the plane is out of the bunny's framing and reach.
    const std::string beside = "o wake\nv 300 -1 -400\nv 1100 -1 -400\nv 1100 -1 400\nv 300 -1 400\nf -4 -3 -2 -1\n";
    EXPECT_LT(mean_difference(bunny, render_exr("--scene " + moved_copy("bunny.obj", {}, unturned, beside) + view)),
              0.002)
        << "the same picture, but for the rounding of a scene centred elsewhere";
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

    // An animated 3DS target camera sees its box, without a warning.
    const std::string output = " --width 48 --height 32 --output " + (folder / "x.exr").string();
    const ProgramRun target = render("--scene " + model("TargetCameraAnim.3ds") + output);
    EXPECT_EQ(target.messages.find("warning"), std::string::npos) << target.messages;
    const Image box = read_exr((folder / "x.exr").string());
    EXPECT_GT(covered_pixels(box), box.pixels.size() / 10);

    // A file of cameras alone is no geometry; its orthographic camera is
    // refused by name.
    const ProgramRun cameras = render("--scene " + model("cameras.dae") + output);
    EXPECT_EQ(cameras.exit_code, 1);
    EXPECT_EQ(cameras.messages, "umbrex-render: " + model("cameras.dae") +
                                    ": no geometry to render: the file holds 3 cameras, 4 nodes and no faces\n");
    const ProgramRun orthographic =
        render("--scene " + model("gltf-cameras/Cameras.gltf") + " --camera-name 'nodes[2]'" + output);
    EXPECT_EQ(orthographic.exit_code, 2);
    EXPECT_NE(orthographic.messages.find("camera \"nodes[2]\" is orthographic"), std::string::npos)
        << orthographic.messages;
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
