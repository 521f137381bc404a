// The preview host's handling of what users hand it: shader declarations,
// --set and --attach values against them, cameras, the look-dev page's
// queries, numbers and OBJ scenes; and of what its importer's process hands
// back.
// Every fault must come out as the error the program reports in one line;
// anything else (a crash, an out-of-bounds access, another exception) is a bug.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "preview/import/scene_transfer.h"
#include "preview/page/query_parameters.h"
#include "preview/shading/attachments.h"
#include "preview/scene/camera.h"
#include "preview/shading/parameter_record.h"
#include "preview/scene/mesh.h"
#include "preview/shading/shader_declaration.h"
#include "preview/value_parsing.h"

namespace {

void declaration_with_values(FuzzedDataProvider &input)
{
    const std::string text = input.ConsumeRandomLengthString(4096);
    ShaderDeclaration declaration;
    try {
        declaration = parse_shader_declaration(text, "fuzz.mi");
    } catch (const DeclarationError &) {
        return;
    }
    ParameterRecord record(declaration);
    AttachedImages images;
    while (input.remaining_bytes() > 0) {
        const std::string value = input.ConsumeRandomLengthString(256);
        try {
            if (input.ConsumeBool())
                record.set(value);
            else if (value.find("=checker:") == value.find('='))  // never an image file
                attach_parameter(value, record, images);
        } catch (const std::invalid_argument &) {
        }
    }
}

// Whatever arrives, the program refuses it or holds a scene whose every
// index is in range and whose every point is finite.
void import_answer(FuzzedDataProvider &input)
{
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    int channel[2];
    if (pipe(channel) != 0)
        std::abort();
    // Inputs are far smaller than the pipe holds.
    if (write(channel[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    close(channel[1]);
    try {
        const ImportAnswer answer =
            receive_answer(channel[0], std::chrono::steady_clock::now() + std::chrono::seconds(5), 1 << 20);
        if (answer.scene) {
            const Mesh &mesh = answer.scene->loaded.mesh;
            if ((mesh.triangles.empty() && answer.scene->holds.empty()) ||
                mesh.corner_normals.size() != mesh.triangles.size() ||
                !is_finite(mesh.origin))
                std::abort();
            for (const auto &t : mesh.triangles) {
                for (std::uint32_t index : t) {
                    if (index >= mesh.positions.size() || !is_finite(mesh.positions[index]))
                        std::abort();
                }
            }
        }
    } catch (const TransferError &) {
    }
    close(channel[0]);
}

void obj_scene(FuzzedDataProvider &input)
{
    static const std::string path = "/tmp/umbrex-fuzz-" + std::to_string(getpid()) + ".obj";
    std::ofstream(path, std::ios::binary) << input.ConsumeRemainingBytesAsString();
    try {
        const Mesh mesh = load_obj(path).mesh;
        if (mesh.corner_normals.size() != mesh.triangles.size())
            std::abort();
        for (const UVSet &set : mesh.uv_sets) {
            if (set.size() != mesh.triangles.size())
                std::abort();
        }
        for (const auto &t : mesh.triangles) {
            for (std::uint32_t index : t) {
                if (index >= mesh.positions.size())
                    std::abort();
            }
        }
    } catch (const SceneError &) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
        declaration_with_values(input);
        break;
    case 1: {
        // A camera, and the same text as the query of a page's request.
        const std::string text = input.ConsumeRemainingBytesAsString();
        try {
            parse_camera(text);
        } catch (const std::invalid_argument &) {
        }
        try {
            const QueryParameters query("/render?" + text, {"camera", "width"}, {"set"});
            query.value("camera");
            query.values("set");
        } catch (const std::invalid_argument &) {
        }
        break;
    }
    case 2:
        try {
            const std::string text = input.ConsumeRandomLengthString(64);
            parse_floats(text, input.ConsumeIntegralInRange<std::size_t>(1, 4), "value");
            parse_int(input.ConsumeRemainingBytesAsString(), "value");
        } catch (const std::invalid_argument &) {
        }
        break;
    case 3:
        obj_scene(input);
        break;
    default:
        import_answer(input);
        break;
    }
    return 0;
}
