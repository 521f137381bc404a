// umbrex-render run as a user runs it, in a folder of its own per test, with
// its images read back: the fixture of the end-to-end tests.
#ifndef UMBREX_TESTS_RENDER_RUN_H
#define UMBREX_TESTS_RENDER_RUN_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "preview/render/image_output.h"
#include "preview/scene/mesh.h"

struct ProgramRun {
    int exit_code;
    std::string messages;  // standard error and output together
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ProgramRun render(const std::string &arguments);

    // Renders to EXR and reads the floats back, failing the test on an error.
    Image render_exr(const std::string &arguments);

    static Image read_exr(const std::string &path);

    // An 8-bit PNG as written, with its four channels.
    static Image read_png(const std::string &path);

    // Writes the mesh's triangles (without normals, with the first UV set) as
    // an OBJ in the test's folder.
    std::string write_obj(const Mesh &mesh, const std::string &name = "scene.obj");

    std::filesystem::path folder;
};

// Pixels that some camera ray hit: alpha above 0.
std::size_t covered_pixels(const Image &image);

#endif
