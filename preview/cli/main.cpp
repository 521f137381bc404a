// umbrex-render: a preview host. It loads the shader library as the renderer
// does, reads the shader's declaration for its parameters, and renders a scene
// with the shader at every visible point.

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "preview/shading/attachments.h"
#include "preview/scene/camera.h"
#include "preview/shading/environment.h"
#include "preview/render/image_output.h"
#include "preview/shading/parameter_record.h"
#include "preview/scene/ray_tracer.h"
#include "preview/render/renderer.h"
#include "preview/scene/mesh.h"
#include "preview/shading/shader_declaration.h"
#include "preview/shading/shader_loader.h"
#include "preview/value_parsing.h"

namespace {

struct Options {
    std::string scene;
    std::string camera;
    std::string up = "y";
    int width = 640;
    int height = 360;
    int aa = 1;
    std::vector<std::string> sets;
    std::vector<std::string> attachments;
    std::string environment;
    std::string output = "umbrex.png";
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string library;
    std::string declaration;
};

// The folder of this executable, where the build puts the library and the
// declaration beside it.
std::filesystem::path program_folder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

Environment make_environment(const std::string &text)
{
    if (text.empty())
        return Environment::sky();
    const std::string extension = lowercase_extension(text);
    if (extension == ".hdr")
        return Environment::image(text);
    const auto commas = std::count(text.begin(), text.end(), ',');
    const std::vector<float> v =
        parse_floats(text, commas == 0 ? 1 : static_cast<std::size_t>(commas + 1),
                     "--environment (a grey level, r,g,b, r,g,b,a or a .hdr file)");
    if (v.size() == 1)
        return Environment::constant({v[0], v[0], v[0], 1.0f});
    if (v.size() == 3 || v.size() == 4)
        return Environment::constant({v[0], v[1], v[2], v.size() == 4 ? v[3] : 1.0f});
    throw std::invalid_argument("--environment takes a grey level, r,g,b, r,g,b,a or a .hdr file");
}

// A parameter's current value, or `otherwise` when the declaration lacks it.
float parameter_value(const ParameterRecord &record, const ShaderDeclaration &declaration,
                      const char *name, float otherwise)
{
    const DeclaredParameter *p = declaration.find(name);
    return p ? record.value(*p)[0] : otherwise;
}

void warn(const std::string &message)
{
    std::fprintf(stderr, "umbrex-render: warning: %s\n", message.c_str());
}

// Sample counts the shader takes as they are, but which a user rarely means.
void warn_about_samples(long long samples, const Options &options)
{
    constexpr long long plenty = 4096;
    if (samples < 0) {
        warn("samples is " + std::to_string(samples) +
             ": the shader asks the sampler for a negative count, gets no sample and returns bright everywhere");
    } else if (samples > plenty) {
        const double rays = static_cast<double>(samples) * options.width * options.height * options.aa;
        char text[200];
        std::snprintf(text, sizeof text,
                      "samples is %lld: the shader traces that many probe rays at every shaded point, up to "
                      "%.3g for this image, which will take a long time (%lld rarely looks any different)",
                      samples, rays, plenty);
        warn(text);
    }
}

// A whole number within bounds, checked before CLI11 converts it.
CLI::Validator whole_number(int low, int high)
{
    return CLI::Validator(
        [low, high](std::string &text) -> std::string {
            errno = 0;
            char *rest = nullptr;
            const long value = std::strtol(text.c_str(), &rest, 10);
            if (text.empty() || *rest != '\0' || errno == ERANGE)
                return "\"" + text + "\" is not a whole number";
            if (value < low || value > high)
                return text + " is not in the range " + std::to_string(low) + " to " + std::to_string(high);
            return {};
        },
        "INT in " + std::to_string(low) + " to " + std::to_string(high));
}

int render(const Options &options)
{
    check_output_path(options.output);
    check_frame_fits(options.width, options.height);

    const std::filesystem::path beside = program_folder();
    const ShaderDeclaration declaration = read_shader_declaration(
        options.declaration.empty() ? (beside / "Umbrex.mi").string() : options.declaration);
    ParameterRecord record(declaration);
    for (const std::string &assignment : options.sets)
        record.set(assignment);
    std::vector<Attachment> attachments;
    attachments.reserve(options.attachments.size());
    for (const std::string &spec : options.attachments)
        attachments.push_back(attach_parameter(spec, record));
    const int samples = static_cast<int>(parameter_value(record, declaration, "samples", 0.0f));
    warn_about_samples(samples, options);

    const LoadedShader shader =
        load_shader(options.library.empty() ? (beside / "Umbrex.so").string() : options.library, declaration);
    const Environment environment = make_environment(options.environment);

    LoadedScene scene = options.scene.empty() ? LoadedScene{make_default_scene(), {}} : load_obj(options.scene);
    for (const std::string &warning : scene.warnings)
        warn(warning);
    const Mesh &mesh = scene.mesh;
    const UpAxis up = options.up == "z" ? UpAxis::z : UpAxis::y;
    Camera camera;
    if (!options.camera.empty()) {
        camera = parse_camera(options.camera);
        check_camera_reach(camera, mesh);
    } else {
        camera = options.scene.empty() ? default_scene_camera()
                                       : framing_camera(mesh, static_cast<float>(options.width) / options.height, up);
    }
    const RayTracer tracer(mesh);

    const FrameScene frame = make_frame_scene(tracer, environment, record, attachments, up);

    RenderSettings settings;
    settings.width = options.width;
    settings.height = options.height;
    settings.up = up;
    settings.camera_rays = options.aa;
    settings.threads = options.threads;
    settings.show_progress = isatty(STDERR_FILENO) != 0;

    // The host's calls around a frame: init for the shader as a whole, and
    // per instance if it asks; exit in the reverse order.
    miShaderRecord shader_record{record.ghost_offs()};
    miState host_state{};
    host_state.shader = &shader_record;
    miBoolean per_instance = miFALSE;
    shader.init(&host_state, nullptr, &per_instance);
    auto *instance = static_cast<Umbrex_params *>(record.fields());
    if (per_instance) {
        miBoolean unused = miFALSE;
        shader.init(&host_state, instance, &unused);
    }
    FrameStatistics statistics;
    const Image image = render_frame(shader, frame, shader_record, camera, settings, statistics);
    if (per_instance)
        shader.exit(&host_state, instance);
    shader.exit(&host_state, nullptr);
    if (statistics.threads < settings.threads)
        warn("only " + std::to_string(statistics.threads) + " of " + std::to_string(settings.threads) +
             " rendering threads could be started (" + statistics.thread_start_fault + "); the image is the same");

    const bool bent_normals = parameter_value(record, declaration, "bent_normals", 0.0f) != 0.0f;
    write_image(image, options.output, bent_normals ? PixelMeaning::data : PixelMeaning::colour);

    std::printf("%s: %dx%d, %d samples, %llu probe rays, %.2f s, %.2f million probe rays/s\n",
                options.output.c_str(), options.width, options.height, samples,
                static_cast<unsigned long long>(statistics.probe_rays), statistics.seconds,
                statistics.seconds > 0.0 ? statistics.probe_rays / statistics.seconds / 1e6 : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"umbrex-render: renders a scene with the Umbrex shader, loaded as the host loads it"};
    Options options;
    app.add_option("--scene", options.scene, "Wavefront OBJ scene (default: the built-in scene)");
    app.add_option("--camera", options.camera,
                   "eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees (default: framed on the scene)");
    app.add_option("--up", options.up, "the scene's up axis, y or z: for framing, the camera and the environment")
        ->capture_default_str()
        ->check(CLI::IsMember({"y", "z"}));
    app.add_option("--width", options.width, "image width in pixels")->capture_default_str()->check(whole_number(1, 16384));
    app.add_option("--height", options.height, "image height in pixels")->capture_default_str()->check(whole_number(1, 16384));
    app.add_option("--aa", options.aa, "camera rays per pixel, jittered and averaged")->capture_default_str()->check(whole_number(1, 4096));
    app.add_option("--set", options.sets, "name=value: a shader parameter (repeatable)");
    app.add_option("--attach", options.attachments,
                   "name=checker:SCALE or name=FILE.hdr: attach a parameter (repeatable)");
    app.add_option("--environment", options.environment,
                   "a grey level, r,g,b[,a] or a latitude-longitude .hdr (default: a sky gradient)");
    app.add_option("--output", options.output, "the image, .png or .exr")->capture_default_str();
    app.add_option("--threads", options.threads, "rendering threads")->capture_default_str()->check(whole_number(1, 1024));
    app.add_option("--library", options.library, "the shader library (default: Umbrex.so beside this program)");
    app.add_option("--declaration", options.declaration,
                   "the shader declaration (default: Umbrex.mi beside this program)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "umbrex-render: %s\n", error.what());
        return 2;
    }

    try {
        return render(options);
    } catch (const std::invalid_argument &error) {
        std::fprintf(stderr, "umbrex-render: %s\n", error.what());
        return 2;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "umbrex-render: out of memory while loading or rendering the scene\n");
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "umbrex-render: %s\n", error.what());
        return 1;
    }
}
