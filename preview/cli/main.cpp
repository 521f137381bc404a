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
#include "preview/scene/scene_import.h"
#include "preview/shading/shader_declaration.h"
#include "preview/shading/shader_loader.h"
#include "preview/value_parsing.h"

namespace {

struct Options {
    std::string scene;
    std::string camera;
    std::string camera_name;
    std::string up;  // empty: the file's, or y
    std::string scale;
    bool list = false;
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

ImportedScene load_scene(const Options &options)
{
    ImportedScene scene;
    if (options.scene.empty()) {
        scene.loaded = {make_default_scene(), {}, {{"built-in scene", 0, 1}}};
        scene.loaded.meshes[0].triangles = scene.loaded.mesh.triangles.size();
        scene.format = "built in";
        scene.up = UpAxis::y;
        scene.up_note = "built that way";
        scene.units_per_metre = 1.0;
        scene.units_note = "built that way";
    } else {
        scene = import_scene(options.scene);
    }
    if (!options.scale.empty()) {
        const double scale = parse_doubles(options.scale, 1, "--scale (scene units per metre)")[0];
        if (!(scale > 0.0))
            throw std::invalid_argument("--scale: scene units per metre must be above 0");
        scene.units_per_metre = scale;
        scene.units_note = "--scale";
    }
    for (const std::string &warning : scene.loaded.warnings)
        warn(warning);
    return scene;
}

UpAxis scene_up(const Options &options, const ImportedScene &scene)
{
    if (!options.up.empty())
        return options.up == "z" ? UpAxis::z : UpAxis::y;
    return scene.up.value_or(UpAxis::y);
}

std::string names_of(const std::vector<SceneCamera> &cameras)
{
    std::string names;
    for (const SceneCamera &camera : cameras)
        names += (names.empty() ? "\"" : ", \"") + camera.name + "\"";
    return names;
}

// --camera, --camera-name, the file's first camera, or one framed on the
// scene (the built-in scene has its own).
Camera choose_camera(const Options &options, const ImportedScene &scene, UpAxis up)
{
    const Mesh &mesh = scene.loaded.mesh;
    const float aspect = static_cast<float>(options.width) / static_cast<float>(options.height);
    if (!options.camera.empty() && !options.camera_name.empty())
        throw std::invalid_argument("--camera and --camera-name both choose the camera; give one");
    Camera camera;
    if (!options.camera.empty()) {
        camera = parse_camera(options.camera);
    } else if (!options.camera_name.empty()) {
        const auto found = std::find_if(scene.cameras.begin(), scene.cameras.end(),
                                        [&](const SceneCamera &c) { return c.name == options.camera_name; });
        if (found == scene.cameras.end())
            throw std::invalid_argument("--camera-name: the scene has no camera \"" + options.camera_name + "\"" +
                                        (scene.cameras.empty() ? std::string("; it has no cameras at all")
                                                               : "; its cameras are " + names_of(scene.cameras)));
        camera = found->view(aspect);
    } else if (!scene.cameras.empty()) {
        try {
            camera = scene.cameras.front().view(aspect);
        } catch (const std::invalid_argument &fault) {
            warn(std::string(fault.what()) + "; framing the scene instead");
            camera = framing_camera(mesh, aspect, up);
        }
    } else {
        return options.scene.empty() ? default_scene_camera() : framing_camera(mesh, aspect, up);
    }
    check_camera_reach(camera, mesh);
    return camera;
}

std::string point_text(DVec3 p)
{
    char text[128];
    std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x, p.y, p.z);
    return text;
}

// --list: what the scene holds, in its own coordinates.
int list_scene(const Options &options)
{
    const ImportedScene scene = load_scene(options);
    const Mesh &mesh = scene.loaded.mesh;
    const Bounds bounds = bounds_of(mesh);
    std::printf("scene: %s\n", options.scene.empty() ? "built-in" : options.scene.c_str());
    std::printf("format: %s\n", scene.format.empty() ? "unnamed" : scene.format.c_str());
    std::printf("triangles: %zu\n", mesh.triangles.size());
    std::printf("bounds: %s to %s\n", point_text(mesh.origin + to_double(bounds.low)).c_str(),
                point_text(mesh.origin + to_double(bounds.high)).c_str());
    if (scene.units_per_metre)
        std::printf("units: %.9g per metre (%s)\n", *scene.units_per_metre, scene.units_note.c_str());
    else
        std::printf("units: not stated by the file (--scale states them)\n");
    const UpAxis up = scene_up(options, scene);
    std::printf("up: %s (%s)\n", up == UpAxis::z ? "+Z" : "+Y",
                !options.up.empty() ? "--up" : scene.up ? scene.up_note.c_str() : "not stated by the file; the default");
    std::printf("meshes: %zu\n", scene.loaded.meshes.size());
    for (const MeshSummary &m : scene.loaded.meshes) {
        std::printf("  \"%s\": %zu triangles", m.name.c_str(), m.triangles);
        if (m.placements > 1)
            std::printf(", placed %zu times", m.placements);
        std::printf("\n");
    }
    std::printf("cameras: %zu\n", scene.cameras.size());
    const float aspect = static_cast<float>(options.width) / static_cast<float>(options.height);
    for (const SceneCamera &c : scene.cameras) {
        try {
            const Camera view = c.view(aspect);
            std::printf("  \"%s\": eye %s, looking along %s, vertical field of view %.4g degrees\n", c.name.c_str(),
                        point_text(view.eye).c_str(), point_text(c.direction).c_str(), view.fov_degrees);
        } catch (const std::invalid_argument &fault) {
            std::printf("  \"%s\": cannot be used: %s\n", c.name.c_str(), fault.what());
        }
    }
    return 0;
}

int render(const Options &options)
{
    if (options.list)
        return list_scene(options);

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

    const ImportedScene scene = load_scene(options);
    const Mesh &mesh = scene.loaded.mesh;
    const UpAxis up = scene_up(options, scene);
    const Camera camera = choose_camera(options, scene, up);
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
    app.add_option("--scene", options.scene,
                   "glTF, GLB, FBX, Collada, PLY, STL, OBJ, 3DS or any scene file Assimp reads "
                   "(default: the built-in scene)");
    app.add_flag("--list", options.list, "print the scene's meshes, triangles, bounds, units, up axis and cameras, "
                                         "then exit");
    app.add_option("--camera", options.camera,
                   "eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees (default: the file's first camera, "
                   "or framed on the scene)");
    app.add_option("--camera-name", options.camera_name, "the file's camera of this name");
    app.add_option("--up", options.up,
                   "the scene's up axis, y or z: for framing, the camera and the environment (default: the file's, "
                   "or y)")
        ->check(CLI::IsMember({"y", "z"}));
    app.add_option("--scale", options.scale,
                   "scene units per metre, where the file states none or states them wrongly (shown by --list)");
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
