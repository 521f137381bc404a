// Reading scene files apart, in-process: the scene handed over from the
// importer's process and the program's checks of it, the files a scene's
// folder lets its readers open, and what the end of the importer's process
// is called.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "preview/import/import_apart.h"
#include "preview/import/scene_transfer.h"
#include "preview/scene/scene_folder.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

ImportedScene small_scene()
{
    ImportedScene scene;
    Mesh &mesh = scene.loaded.mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.triangles = {{0, 1, 2}};
    mesh.corner_normals = {{Vec3{0, 0, 1}, Vec3{0, 0.6f, 0.8f}, Vec3{0, 0, 0}}};
    mesh.uv_sets = {{}, {{TexCoord{0.5f, 0.25f}, TexCoord{1, 0}, TexCoord{0, 1}}}};
    mesh.uv_sets[0] = mesh.uv_sets[1];
    mesh.uv_sets[0][0][2].v = 0.75f;
    mesh.origin = {5e6, 0.25, -3e6};
    scene.loaded.warnings = {"a.ply: skipped 1 point\nand more"};
    scene.loaded.meshes = {{"tab\there", 1, 2, 3, {"left", "right\n"}, {-1, 0, 2}, {1, 0.5, 4}}};
    scene.format = "PLY";
    scene.cameras = {{"top", {1, 2, 3}, {0, 0, -1}, 0.5f, 1.5f, 0.25f}};
    scene.up = UpAxis::minus_x;
    scene.up_note = "the file's";
    scene.units_per_metre = 100.0;
    scene.units_note = "centimetres";
    return scene;
}

// What a writer puts into a pipe, collected while it writes.
std::string bytes_sent(const std::function<void(int)> &send)
{
    int channel[2];
    EXPECT_EQ(pipe(channel), 0);
    std::thread writer([&] {
        send(channel[1]);
        close(channel[1]);
    });
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    writer.join();
    close(channel[0]);
    return bytes;
}

ImportAnswer receive_bytes(const std::string &bytes, std::uint64_t budget = 1 << 20)
{
    int channel[2];
    EXPECT_EQ(pipe(channel), 0);
    std::thread writer([&] {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t put = write(channel[1], bytes.data() + done, bytes.size() - done);
            if (put <= 0)
                break;
            done += static_cast<std::size_t>(put);
        }
        close(channel[1]);
    });
    try {
        ImportAnswer answer = receive_answer(channel[0], Clock::now() + std::chrono::seconds(10), budget);
        close(channel[0]);
        writer.join();
        return answer;
    } catch (...) {
        close(channel[0]);
        writer.join();
        throw;
    }
}

// The fault the program finds in what was sent, or "" if it takes it.
std::string fault_in(const std::string &bytes, std::uint64_t budget = 1 << 20)
{
    try {
        receive_bytes(bytes, budget);
        return "";
    } catch (const TransferError &error) {
        return error.what();
    }
}

std::string fault_in(const ImportedScene &scene)
{
    return fault_in(bytes_sent([&](int fd) { send_scene(fd, scene); }));
}

TEST(SceneTransfer, ASceneComesBackAsSentWithItsTextMadePrintable)
{
    const ImportAnswer answer = receive_bytes(bytes_sent([](int fd) { send_scene(fd, small_scene()); }));
    ASSERT_TRUE(answer.scene);
    const ImportedScene &scene = *answer.scene;
    const Mesh &mesh = scene.loaded.mesh;
    ASSERT_EQ(mesh.positions.size(), 3u);
    EXPECT_EQ(mesh.positions[1].x, 1.0f);
    EXPECT_EQ(mesh.positions[2].y, 1.0f);
    ASSERT_EQ(mesh.triangles.size(), 1u);
    EXPECT_EQ(mesh.triangles[0][2], 2u);
    EXPECT_EQ(mesh.corner_normals[0][1].z, 0.8f);
    ASSERT_EQ(mesh.uv_sets.size(), 2u);
    ASSERT_EQ(mesh.uv_sets[1].size(), 1u);
    EXPECT_EQ(mesh.uv_sets[0][0][2].v, 0.75f);
    EXPECT_EQ(mesh.uv_sets[1][0][0].u, 0.5f);
    EXPECT_EQ(mesh.uv_sets[1][0][2].v, 1.0f);
    EXPECT_EQ(mesh.origin.x, 5e6);
    EXPECT_EQ(mesh.origin.y, 0.25);
    EXPECT_EQ(mesh.origin.z, -3e6);
    ASSERT_EQ(scene.loaded.warnings.size(), 1u);
    EXPECT_EQ(scene.loaded.warnings[0], "a.ply: skipped 1 point\\nand more");
    ASSERT_EQ(scene.loaded.meshes.size(), 1u);
    EXPECT_EQ(scene.loaded.meshes[0].name, "tab\\there");
    EXPECT_EQ(scene.loaded.meshes[0].triangles, 1u);
    EXPECT_EQ(scene.loaded.meshes[0].placements, 2u);
    EXPECT_EQ(scene.loaded.meshes[0].hidden, 3u);
    EXPECT_EQ(scene.loaded.meshes[0].nodes, (std::vector<std::string>{"left", "right\\n"}));
    EXPECT_EQ(scene.loaded.meshes[0].low.x, -1.0);
    EXPECT_EQ(scene.loaded.meshes[0].high.z, 4.0);
    EXPECT_EQ(scene.format, "PLY");
    ASSERT_EQ(scene.cameras.size(), 1u);
    EXPECT_EQ(scene.cameras[0].name, "top");
    EXPECT_EQ(scene.cameras[0].eye.z, 3.0);
    EXPECT_EQ(scene.cameras[0].direction.z, -1.0);
    EXPECT_EQ(scene.cameras[0].horizontal_fov, 0.5f);
    EXPECT_EQ(scene.cameras[0].aspect, 1.5f);
    EXPECT_EQ(scene.cameras[0].vertical_fov, 0.25f);
    EXPECT_EQ(scene.up, UpAxis::minus_x);
    EXPECT_EQ(scene.up_note, "the file's");
    EXPECT_EQ(scene.units_per_metre, 100.0);
    EXPECT_EQ(scene.units_note, "centimetres");

    // A file without triangles: an empty mesh and what the file holds.
    ImportedScene none;
    none.holds = "3 cameras, 4 nodes and no faces";
    const ImportAnswer holding = receive_bytes(bytes_sent([&](int fd) { send_scene(fd, none); }));
    ASSERT_TRUE(holding.scene);
    EXPECT_EQ(holding.scene->holds, none.holds);
    EXPECT_TRUE(holding.scene->loaded.mesh.triangles.empty());

    // A terminal's controls, of either block, are escaped; a no-break space is kept.
    const ImportAnswer failure =
        receive_bytes(bytes_sent([](int fd) { send_failure(fd, "x.ply: bad\rline\xc2\x9b" "2J\xc2\xa0"); }));
    EXPECT_FALSE(failure.scene);
    EXPECT_EQ(failure.failure, "x.ply: bad\\rline\\xc2\\x9b" "2J\xc2\xa0");
}

TEST(SceneTransfer, TheProgramRefusesWhatItCannotTrust)
{
    ImportedScene scene = small_scene();
    scene.loaded.mesh.triangles[0][1] = 3;
    EXPECT_NE(fault_in(scene).find("malformed: triangle 1 refers to vertex 4 of 3"), std::string::npos);

    for (const float bad : {NAN, 1e30f}) {
        scene = small_scene();
        scene.loaded.mesh.positions[1].y = bad;
        EXPECT_NE(fault_in(scene).find("vertex 2 is not a finite point within reach"), std::string::npos) << bad;
    }
    scene = small_scene();
    scene.loaded.mesh.positions[0].z = 1.0001e17f;  // within the reach the importer allows
    EXPECT_EQ(fault_in(scene), "");

    scene = small_scene();
    scene.loaded.mesh.corner_normals[0][2].x = INFINITY;
    EXPECT_NE(fault_in(scene).find("a normal of triangle 1 is not finite"), std::string::npos);
    scene = small_scene();
    scene.loaded.mesh.corner_normals.clear();
    EXPECT_NE(fault_in(scene).find("0 normal triples for 1 triangles"), std::string::npos);
    scene = small_scene();
    scene.loaded.mesh.uv_sets[1].push_back({});
    EXPECT_NE(fault_in(scene).find("a UV set of 2 triples for 1 triangles"), std::string::npos);
    scene = small_scene();
    scene.loaded.mesh.origin.x = NAN;
    EXPECT_NE(fault_in(scene).find("origin is not finite"), std::string::npos);
    scene = small_scene();
    scene.units_per_metre = -1.0;
    EXPECT_NE(fault_in(scene).find("units per metre"), std::string::npos);
    scene = small_scene();
    scene.up = static_cast<UpAxis>(6);
    EXPECT_NE(fault_in(scene).find("an up axis that is none of the six"), std::string::npos);
    scene = small_scene();
    scene.loaded.meshes[0].high.y = NAN;
    EXPECT_NE(fault_in(scene).find("the bounds of mesh \"tab\\there\" are not finite"), std::string::npos);
    scene = small_scene();
    scene.loaded.mesh = {};
    EXPECT_NE(fault_in(scene).find("no triangles, and nothing said of what the file holds"), std::string::npos);

    // The bytes themselves: cut short, followed by more, another program's,
    // or announcing more than the budget.
    const std::string good = bytes_sent([](int fd) { send_scene(fd, small_scene()); });
    EXPECT_EQ(fault_in(good), "");
    EXPECT_EQ(fault_in(good.substr(0, good.size() - 1)), "the importer's answer ends early");
    EXPECT_NE(fault_in(good + "x").find("bytes after its end"), std::string::npos);
    std::string other = good;
    other[0] = 'u';
    EXPECT_NE(fault_in(other).find("not an answer of this version"), std::string::npos);
    // The positions' count follows the tag (8 bytes), the version (4) and the kind (1).
    std::string huge = good;
    const std::uint64_t claimed = std::uint64_t{1} << 40;
    huge.replace(13, 8, reinterpret_cast<const char *>(&claimed), 8);
    EXPECT_NE(fault_in(huge).find("a count of 1099511627776 beyond the"), std::string::npos);
    EXPECT_NE(fault_in(good, 36 - 1).find("a count of 3 beyond the 35 bytes"), std::string::npos)
        << "three positions of 12 bytes";
    // UV sets are charged as they are held (24 bytes), not as they are sent
    // (8). Their count follows the positions', triangles' and normals'.
    std::uint64_t sets = 0;
    std::memcpy(&sets, good.data() + 121, 8);
    ASSERT_EQ(sets, 2u);
    sets = 100'000;
    const std::string announced = good.substr(0, 121) + std::string(reinterpret_cast<const char *>(&sets), 8);
    EXPECT_NE(fault_in(announced, 1 << 21).find("a count of 100000 beyond the"), std::string::npos)
        << fault_in(announced, 1 << 21);
}

TEST(SceneTransfer, AnAnswerThatDoesNotEndStopsAtTheDeadline)
{
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    ASSERT_EQ(write(channel[1], "UMBR", 4), 4);
    const auto start = Clock::now();
    try {
        receive_answer(channel[0], start + std::chrono::milliseconds(200), 1 << 20);
        ADD_FAILURE() << "an answer from half a tag";
    } catch (const TransferError &error) {
        EXPECT_EQ(error.kind, TransferError::Kind::timed_out);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    close(channel[0]);
    close(channel[1]);
}

class SceneFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("umbrex-scene-folder-" + std::to_string(getpid()));
        fs::create_directories(root / "scene" / "sub");
        for (const char *file : {"scene/model.gltf", "scene/model.bin", "scene/sub/deep.bin", "outside.bin"})
            std::ofstream(root / file) << "bytes";
        fs::create_symlink("../outside.bin", root / "scene" / "link-out.bin");
        fs::create_symlink("sub/deep.bin", root / "scene" / "link-in.bin");
        fs::create_symlink("/dev/null", root / "scene" / "null.bin");
        fs::create_symlink("nothing.bin", root / "scene" / "dangling.bin");
        fs::create_symlink("scene/model.gltf", root / "model-link.gltf");
        ASSERT_EQ(mkfifo((root / "scene" / "fifo.bin").c_str(), 0600), 0);
    }
    void TearDown() override { fs::remove_all(root); }

    static std::string read_all(int fd)
    {
        std::string text(16, '\0');
        const ssize_t got = read(fd, text.data(), text.size());
        close(fd);
        return text.substr(0, got > 0 ? static_cast<std::size_t>(got) : 0);
    }

    static std::string fault_of(const fs::path &path)
    {
        try {
            check_scene_file(path.string());
            return "";
        } catch (const SceneError &error) {
            return error.what();
        }
    }

    fs::path root;
};

TEST_F(SceneFolderTest, OnlyRegularFilesInsideTheScenesFolderAreOpened)
{
    SceneFolder folder((root / "scene" / "model.gltf").string());
    const std::string inside = fs::canonical(root / "scene").string();
    for (const std::string &allowed : {std::string("model.bin"), inside + "/sub/deep.bin", std::string("link-in.bin"),
                                       std::string("sub/../model.bin")}) {
        const int fd = folder.open(allowed);
        ASSERT_GE(fd, 0) << allowed;
        EXPECT_EQ(read_all(fd), "bytes") << allowed;
    }
    for (const std::string &refused : {std::string("../outside.bin"), std::string("link-out.bin"),
                                       inside + "/../outside.bin", std::string("/etc/passwd"), std::string("fifo.bin"),
                                       std::string("null.bin"), std::string("dangling.bin"), std::string("sub"),
                                       std::string("missing.bin")})
        EXPECT_EQ(folder.open(refused), -1) << refused;
    EXPECT_FALSE(folder.exists("link-out.bin"));
    EXPECT_TRUE(folder.exists("model.bin"));

    // Each refused once, as the file wrote it; a missing file is no refusal.
    const std::vector<std::string> refusals = {
        "\"../outside.bin\" lies outside the scene's folder",
        "\"link-out.bin\" lies outside the scene's folder",
        "\"/etc/passwd\" lies outside the scene's folder",
        "\"fifo.bin\" is a FIFO (a named pipe)",
        "\"null.bin\" lies outside the scene's folder",
        "\"dangling.bin\" is a link to a file that does not exist",
        "\"sub\" is a folder",
    };
    EXPECT_EQ(folder.refusals(), refusals);

    // A scene file reached through a link reads beside its target.
    SceneFolder linked((root / "model-link.gltf").string());
    EXPECT_EQ(linked.scene_file(), inside + "/model.gltf");
    const int fd = linked.open("model.bin");
    ASSERT_GE(fd, 0);
    close(fd);
}

TEST_F(SceneFolderTest, ASceneFileThatIsNoneIsNamedForWhatItIs)
{
    EXPECT_EQ(fault_of(root / "scene" / "model.gltf"), "");
    EXPECT_EQ(fault_of(root / "scene" / "fifo.bin"),
              (root / "scene" / "fifo.bin").string() + ": is a FIFO (a named pipe), not a scene file");
    EXPECT_EQ(fault_of(root / "scene" / "null.bin"), (root / "scene" / "null.bin").string() + ": is a device, not a scene file");
    EXPECT_EQ(fault_of(root / "scene"), (root / "scene").string() + ": is a folder, not a scene file");
    EXPECT_EQ(fault_of(root / "scene" / "dangling.bin"),
              (root / "scene" / "dangling.bin").string() + ": is a link to \"nothing.bin\", which does not exist");
    EXPECT_EQ(fault_of(root / "new\nline.obj"), (root / "new\\nline.obj").string() + ": no such scene file");
}

TEST(ImporterEnd, EachEndIsToldInWords)
{
    const std::uint64_t two_gib = std::uint64_t{2} << 30;
    EXPECT_EQ(importer_end_reason(SIGSEGV, 120, two_gib), "the importer crashed on it (segmentation fault)");
    EXPECT_EQ(importer_end_reason(SIGABRT, 120, two_gib), "the importer crashed on it (aborted)");
    for (const int signal : {SIGXCPU, SIGKILL})
        EXPECT_EQ(importer_end_reason(signal, 7, two_gib), "gave up after 7 s of reading (--import-timeout)");
    EXPECT_EQ(importer_end_reason(W_EXITCODE(86, 0), 120, two_gib + (two_gib >> 2)),
              "the importer needed more than 2.5 GiB of memory");
    EXPECT_EQ(importer_end_reason(W_EXITCODE(1, 0), 120, two_gib),
              "the importer stopped without an answer (exit status 1)");
}

}  // namespace
