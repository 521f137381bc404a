// umbrex-render: a preview host. It loads the shader library as the renderer
// does, reads the shader's declaration for its parameters, and renders a scene
// with the shader at every visible point, or bakes the shader into a texture
// or the scene's vertex colours.

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "preview/import/import_apart.h"
#include "preview/bake/bake_command.h"
#include "preview/page/look_dev_server.h"
#include "preview/render/image_output.h"
#include "preview/render/look_command.h"
#include "preview/printable_text.h"
#include "preview/render/preview_session.h"
#include "preview/scene/counted_words.h"
#include "preview/value_parsing.h"

namespace {

struct Options {
    std::string scene;
    std::string camera;
    std::string camera_name;
    std::string up;  // empty: the file's, or y
    std::vector<std::string> hide, only;
    std::string scale;
    bool list = false;
    int width = 640;
    int height = 360;
    int aa = 1;
    int seed = 0;
    int pass_samples = 0;
    std::vector<std::string> sets;
    std::vector<std::string> attachments;
    std::string environment;
    std::string output = "umbrex.png";
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string library;
    std::string declaration;
    bool serve = false;
    int port = default_look_dev_port;
    std::string listen;
    int import_timeout = ImportLimits{}.timeout_seconds;
    int png_bits = 8;
    std::string bake;  // texture or vertices; empty to render
    std::string bake_size = "1024";
    int uv = 1;
    int padding = 16;
    std::string bake_from;
    std::string cage;
    std::uint64_t max_work = default_max_work;
};

// The folder of this executable, where the build puts the library and the
// declaration beside it.
std::filesystem::path program_folder()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::current_path() : self.parent_path();
}

SessionOptions session_options(const Options &options)
{
    const std::filesystem::path beside = program_folder();
    SessionOptions session;
    session.scene = options.scene;
    session.camera = options.camera;
    session.camera_name = options.camera_name;
    if (!options.up.empty())
        session.up = parse_up_axis(options.up);
    session.choice.hide = options.hide;
    session.choice.only = options.only;
    if (!options.scale.empty())
        session.units_per_metre = parse_doubles(options.scale, 1, "--scale (scene units per metre)")[0];
    session.environment = options.environment;
    session.library = options.library.empty() ? (beside / "Umbrex.so").string() : options.library;
    session.declaration = options.declaration.empty() ? (beside / "Umbrex.mi").string() : options.declaration;
    session.import_timeout_seconds = options.import_timeout;
    return session;
}

void warn(const std::string &message)
{
    std::fprintf(stderr, "umbrex-render: warning: %s\n", message.c_str());
}

// Sample counts the shader takes as they are, but which a user rarely means;
// `points` is how many points are shaded (pixels or texels times --aa).
void warn_about_samples(long long samples, double points)
{
    const std::string warning = samples_warning(samples, points);
    if (!warning.empty())
        warn(warning);
}

// The program and the options that say what it renders besides the look: the
// start of the command that renders a look. The page names its camera
// itself, so `for_page` leaves --camera-name out.
std::vector<std::string> scene_arguments(const Options &options, bool for_page)
{
    std::vector<std::string> words = {(program_folder() / "umbrex-render").string()};
    // The file states its own up axis where --up is not given. Values
    // joined to their option, so that "-z" reads as a value.
    if (!options.up.empty())
        words.push_back("--up=" + options.up);
    for (const std::string &pattern : options.hide)
        words.push_back("--hide=" + pattern);
    for (const std::string &pattern : options.only)
        words.push_back("--only=" + pattern);
    if (options.import_timeout != ImportLimits{}.timeout_seconds)
        words.insert(words.end(), {"--import-timeout", std::to_string(options.import_timeout)});
    const std::pair<const char *, const std::string *> files[] = {
        {"--scene", &options.scene}, {"--library", &options.library}, {"--declaration", &options.declaration}};
    for (const auto &[option, path] : files) {
        if (!path->empty())
            words.insert(words.end(), {option, std::filesystem::absolute(*path).string()});
    }
    if (!options.environment.empty()) {
        const bool file = lowercase_extension(options.environment) == ".hdr";
        words.insert(words.end(), {"--environment", file ? std::filesystem::absolute(options.environment).string()
                                                         : options.environment});
    }
    if (!for_page && !options.camera_name.empty())
        words.insert(words.end(), {"--camera-name", options.camera_name});
    return words;
}

void warn_about_reach(const PreviewSession &session, const Look &look)
{
    const std::string reach = reach_warning(session.declaration(), look, session.framing());
    if (!reach.empty())
        warn(reach);
}

// A whole number within bounds, checked before CLI11 converts it.
CLI::Validator whole_number(int low, int high)
{
    return CLI::Validator([low, high](std::string &text) { return whole_number_fault(text, low, high); },
                          "INT in " + std::to_string(low) + " to " + std::to_string(high));
}

// A count from 1 up that fits 64 bits, written in digits.
CLI::Validator positive_count()
{
    return CLI::Validator(
        [](std::string &text) -> std::string {
            errno = 0;
            const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || errno == ERANGE)
                return "\"" + text + "\" is not a whole number from 1 to 18446744073709551615";
            return value == 0 ? "0 is not above 0" : "";
        },
        "INT from 1");
}

std::string point_text(DVec3 p)
{
    char text[128];
    std::snprintf(text, sizeof text, "(%.9g, %.9g, %.9g)", p.x, p.y, p.z);
    return text;
}

// "(nodes "a", "b" and 3 more)": the nodes that place a mesh, where they say
// more than its name.
std::string node_names(const MeshSummary &m)
{
    if (m.nodes.empty() || (m.nodes.size() == 1 && m.nodes[0] == m.name))
        return {};
    constexpr std::size_t shown = 4;
    std::string text = (m.nodes.size() == 1 ? " (node " : " (nodes ") + quoted_names(m.nodes, shown);
    const std::size_t named = std::min(m.nodes.size(), shown), all = m.placements + m.hidden;
    if (all > named)
        text += " and " + std::to_string(all - named) + " more";
    return text + ")";
}

// --list: what the scene holds, in its own coordinates, without loading the
// shader.
int list_scene(const Options &options)
{
    const SessionOptions session = session_options(options);
    const ImportedScene scene = load_session_scene(session);
    for (const std::string &warning : scene.loaded.warnings)
        warn(warning);
    const Mesh &mesh = scene.loaded.mesh;
    std::printf("scene: %s\n", options.scene.empty() ? "built-in" : printable(options.scene).c_str());
    std::printf("format: %s\n", scene.format.empty() ? "unnamed" : scene.format.c_str());
    std::printf("triangles: %zu\n", mesh.triangles.size());
    if (mesh.triangles.empty()) {
        std::printf("holds: %s\n", scene.holds.c_str());
    } else {
        const Bounds bounds = bounds_of(mesh);
        std::printf("bounds: %s to %s\n", point_text(mesh.origin + to_double(bounds.low)).c_str(),
                    point_text(mesh.origin + to_double(bounds.high)).c_str());
    }
    if (scene.units_per_metre)
        std::printf("units: %.9g per metre (%s)\n", *scene.units_per_metre, scene.units_note.c_str());
    else
        std::printf("units: not stated by the file (--scale states them)\n");
    const UpAxis up = session.up.value_or(scene.up.value_or(UpAxis::y));
    std::printf("up: %s (%s)\n", up_axis_name(up).c_str(),
                session.up ? "--up" : scene.up ? scene.up_note.c_str() : "not stated by the file; the default");
    std::printf("UV sets: %zu\n", mesh.uv_sets.size());
    std::printf("meshes: %zu\n", scene.loaded.meshes.size());
    for (const MeshSummary &m : scene.loaded.meshes) {
        std::printf("  \"%s\": %zu triangles", m.name.c_str(), m.triangles);
        if (m.placements > 1)
            std::printf(", placed %zu times", m.placements);
        if (m.hidden > 0 && m.placements == 0)
            std::printf(", hidden");
        else if (m.hidden > 0)
            std::printf(", hidden in %zu places", m.hidden);
        std::printf("%s\n", node_names(m).c_str());
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
    if (!mesh.triangles.empty()) {
        const Framing framing = frame_scene(mesh, scene.loaded.meshes);
        for (const std::string &name : framing.set_aside)
            std::printf("framing leaves out: \"%s\"\n", name.c_str());
        std::printf("reach: the scene is %.3g units across; --set falloff_stop=%g suits it (a tenth of that",
                    framing.size(), suited_reach(framing.size()));
        if (scene.units_per_metre)
            std::printf(", %.3g m", suited_reach(framing.size()) / *scene.units_per_metre);
        std::printf(")\n");
    }
    return 0;
}

int render(const Options &options)
{
    check_output_path(options.output);
    check_frame_fits(options.width, options.height);

    const PreviewSession session(session_options(options));
    for (const std::string &warning : session.warnings())
        warn(warning);
    Look look{options.sets,   options.attachments, options.camera,
              options.width,  options.height,      options.aa,
              static_cast<std::uint32_t>(options.seed), options.pass_samples};
    const int samples = session.check(look);
    // Passes as large as the samples or larger are one: the command says none.
    if (!session.pass_plan(look).split())
        look.pass_samples = 0;
    warn_about_samples(samples, static_cast<double>(options.width) * options.height * options.aa);
    warn_about_reach(session, look);
    if (!session.sees_scene(session.starting_camera(options.width, options.height), options.width, options.height))
        warn(session.starting_camera_name() + " sees no part of the scene; the image will be empty");

    const RenderedLook rendered = session.render(look, options.threads, isatty(STDERR_FILENO) != 0);
    const FrameStatistics &statistics = rendered.statistics;
    if (statistics.threads < options.threads)
        warn("only " + std::to_string(statistics.threads) + " of " + std::to_string(options.threads) +
             " rendering threads could be started (" + statistics.thread_start_fault + "); the image is the same");
    write_image(rendered.image, options.output, rendered.meaning, options.png_bits,
                look_command(scene_arguments(options, false), look));

    std::printf("%s: %dx%d, %d samples, %llu probe rays, %.2f s, %.2f million probe rays/s\n",
                options.output.c_str(), options.width, options.height, samples,
                static_cast<unsigned long long>(statistics.probe_rays), statistics.seconds,
                statistics.seconds > 0.0 ? statistics.probe_rays / statistics.seconds / 1e6 : 0.0);
    return 0;
}

// --bake-size: N for a square texture, or NxM.
std::pair<int, int> bake_size(const std::string &text)
{
    const std::size_t x = text.find('x');
    const std::string width = text.substr(0, x), height = x == std::string::npos ? width : text.substr(x + 1);
    for (const std::string &part : {width, height}) {
        const std::string fault = whole_number_fault(part, 1, 16384);
        if (!fault.empty())
            throw std::invalid_argument("--bake-size takes N or NxM texels, each 1 to 16384: " + fault);
    }
    return {std::stoi(width), std::stoi(height)};
}

// Bakes the look into a texture or the vertices' colours.
int bake_scene(const Options &options, bool output_given, bool texture_options_given)
{
    BakeOptions bake;
    bake.kind = options.bake == "vertices" ? BakeOptions::Kind::vertices : BakeOptions::Kind::texture;
    if (bake.kind == BakeOptions::Kind::vertices && texture_options_given)
        throw std::invalid_argument("--bake-size, --uv and --padding go with --bake texture, not --bake vertices");
    bake.scene_name = options.scene.empty() ? "the built-in scene" : options.scene;
    std::tie(bake.width, bake.height) = bake_size(options.bake_size);
    bake.uv_set = options.uv;
    bake.padding = options.padding;
    bake.high = options.bake_from;
    bake.import_limits.timeout_seconds = options.import_timeout;
    if (!options.cage.empty())
        bake.cage = parse_doubles(options.cage, 1, "--cage (a distance in scene units)")[0];
    bake.output = output_given || bake.kind == BakeOptions::Kind::texture ? options.output : "umbrex.glb";
    bake.png_bits = options.png_bits;
    bake.points = options.aa;
    bake.threads = options.threads;
    bake.show_progress = isatty(STDERR_FILENO) != 0;
    check_bake_output(bake);

    const PreviewSession session(session_options(options));
    for (const std::string &warning : session.warnings())
        warn(warning);
    const Look look{options.sets, options.attachments, {}, 0, 0, options.aa, static_cast<std::uint32_t>(options.seed)};
    const int samples = session.check(look);
    warn_about_reach(session, look);
    // Texels, or about six faces around each vertex, times their points.
    const double points = bake.kind == BakeOptions::Kind::texture
                              ? static_cast<double>(bake.width) * bake.height * options.aa
                              : 6.0 * static_cast<double>(session.scene().loaded.mesh.positions.size()) * options.aa;
    warn_about_samples(samples, points);
    std::printf("%s\n", run_bake(session, look, bake, warn).c_str());
    return 0;
}

// Loads the scene as a render does and serves the look-dev page until Ctrl-C.
int serve(const Options &options)
{
    const PreviewSession session(session_options(options));
    for (const std::string &warning : session.warnings())
        warn(warning);
    warn_about_reach(session, Look{options.sets, options.attachments, {}, options.width, options.height, options.aa,
                                   static_cast<std::uint32_t>(options.seed)});
    LookDevSettings settings;
    settings.listen = options.listen;
    settings.port = options.port;
    settings.threads = options.threads;
    settings.max_work = options.max_work;
    settings.width = options.width;
    settings.height = options.height;
    settings.camera_rays = options.aa;
    settings.seed = static_cast<std::uint32_t>(options.seed);
    settings.sets = options.sets;
    settings.attachments = options.attachments;
    settings.pass_samples = options.pass_samples;
    settings.scene_arguments = scene_arguments(options, true);
    return serve_look_dev(session, settings);
}

}  // namespace

int main(int argc, char **argv)
{
    if (is_importer_run(argc, argv))
        return run_importer(argc, argv);

    CLI::App app{"umbrex-render: renders a scene with the Umbrex shader, loaded as the host loads it"};
    Options options;
    app.add_option("--scene", options.scene,
                   "glTF, GLB, FBX, Collada, PLY, STL, OBJ, 3DS or any scene file Assimp reads "
                   "(default: the built-in scene)");
    app.add_flag("--list", options.list,
                 "print the scene's meshes, triangles, bounds, units, up axis and cameras, then exit");
    app.add_option("--camera", options.camera,
                   "eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees (default: the file's first camera, "
                   "or framed on the scene)");
    app.add_option("--camera-name", options.camera_name, "the file's camera of this name");
    app.add_option("--up", options.up,
                   "the scene's up axis, x, y or z with an optional sign (-z): for framing, the camera and the "
                   "environment (default: the file's, or y)")
        ->check(CLI::Validator(
            [](std::string &text) {
                try {
                    parse_up_axis(text);
                    return std::string();
                } catch (const std::invalid_argument &fault) {
                    return std::string(fault.what());
                }
            },
            "x|y|z|-x|-y|-z"));
    app.add_option("--hide", options.hide,
                   "leave out of the scene the meshes whose name, or whose node's or a parent node's, matches "
                   "(repeatable; * matches any run of characters)");
    app.add_option("--only", options.only,
                   "keep only the meshes whose name, or whose node's or a parent node's, matches (repeatable)");
    app.add_option("--scale", options.scale,
                   "scene units per metre, where the file states none or states them wrongly (shown by --list)");
    app.add_option("--import-timeout", options.import_timeout,
                   "seconds the scene file may take to read before umbrex-render gives up on it")
        ->capture_default_str()
        ->check(whole_number(1, 86400));
    app.add_option("--width", options.width, "image width in pixels")->capture_default_str()->check(whole_number(1, 16384));
    app.add_option("--height", options.height, "image height in pixels")->capture_default_str()->check(whole_number(1, 16384));
    app.add_option("--aa", options.aa, "camera rays per pixel, jittered and averaged")->capture_default_str()->check(whole_number(1, 4096));
    app.add_option("--seed", options.seed, "picks the sample pattern: each seed gives other noise, equally fine")
        ->capture_default_str()
        ->check(whole_number(0, 2147483647));
    app.add_option("--pass-samples", options.pass_samples,
                   "render the samples in passes of this many, each with its own sample pattern, averaged (the "
                   "look-dev page's progressive image)")
        ->check(whole_number(1, 2147483647));
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
    app.add_flag("--serve", options.serve, "serve the look-dev page instead of rendering one image");
    app.add_option("--port", options.port, "with --serve: the port, 0 for any free one")
        ->capture_default_str()
        ->check(whole_number(0, 65535));
    app.add_option("--listen", options.listen,
                   "with --serve: the address to listen on (default: the loopback addresses only)");
    app.add_option("--png-bits", options.png_bits, "bits per channel of a PNG output, 8 or 16")
        ->capture_default_str()
        ->check(CLI::IsMember({8, 16}));
    CLI::Option *bake_option = app.add_option("--bake", options.bake,
                                       "bake instead of rendering: texture (over the scene's UVs) or vertices "
                                       "(the vertices' colours, written as .glb or .ply)")
                            ->check(CLI::IsMember({"texture", "vertices"}));
    app.add_option("--bake-size", options.bake_size, "with --bake texture: N or NxM texels")
        ->capture_default_str()
        ->needs(bake_option);
    app.add_option("--uv", options.uv, "with --bake texture: the UV set, from 1")
        ->capture_default_str()
        ->check(whole_number(1, 64))
        ->needs(bake_option);
    app.add_option("--padding", options.padding, "with --bake texture: texels of edge padding around each island")
        ->capture_default_str()
        ->check(whole_number(0, 16384))
        ->needs(bake_option);
    app.add_option("--bake-from", options.bake_from,
                   "with --bake: a high-resolution model whose surface is baked onto the scene's")
        ->needs(bake_option);
    app.add_option("--cage", options.cage,
                   "with --bake-from: how far along the scene's normal, either way, the high model is looked for "
                   "(default: a twentieth of the scene's diagonal)")
        ->needs("--bake-from");
    for (const char *render_only : {"--serve", "--width", "--height", "--camera", "--camera-name", "--pass-samples"})
        bake_option->excludes(render_only);
    app.add_option("--max-work", options.max_work,
                   "with --serve: the work one render may ask for, pixels x camera rays per pixel x samples")
        ->capture_default_str()
        ->check(positive_count());
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &help) {
        return app.exit(help);
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "umbrex-render: %s\n", error.what());
        return 2;
    }

    try {
        if (options.list)
            return list_scene(options);
        if (options.serve)
            return serve(options);
        if (!options.bake.empty())
            return bake_scene(options, app.count("--output") > 0,
                              app.count("--bake-size") + app.count("--uv") + app.count("--padding") > 0);
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
