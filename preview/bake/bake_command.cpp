#include "preview/printable_text.h"
#include "preview/bake/bake_command.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "preview/bake/bake_surface.h"
#include "preview/bake/texture_bake.h"
#include "preview/bake/uv_layout.h"
#include "preview/bake/vertex_bake.h"
#include "preview/bake/vertex_export.h"

namespace {

std::string format(const char *pattern, double a, double b = 0.0)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

std::string count_of(std::uint64_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The high-resolution model and its tracer, which holds on to its mesh, when
// there is one.
struct HighModel {
    ImportedScene scene;
    std::unique_ptr<RayTracer> tracer;
    float cage = 0.0f;

    HighModel() = default;
    HighModel(const HighModel &) = delete;
    HighModel &operator=(const HighModel &) = delete;
};

void load_high_model(const BakeOptions &options, const Mesh &low,
                     const std::function<void(const std::string &)> &warn, HighModel &high)
{
    if (options.high.empty())
        return;
    const Bounds bounds = bounds_of(low);
    const double cage = options.cage.value_or(default_cage_share * length(bounds.high - bounds.low));
    if (!(cage > 0.0 && cage <= max_ray_origin))
        throw std::invalid_argument("--cage: the distance must be above 0 and at most 1e18, not " +
                                    format("%g", cage));
    high.scene = import_scene_apart(options.high, options.import_limits);
    require_triangles(high.scene, printable(options.high));
    for (const std::string &warning : high.scene.loaded.warnings)
        warn(warning);
    high.tracer = std::make_unique<RayTracer>(high.scene.loaded.mesh);
    high.cage = static_cast<float>(cage);
}

BakePassSettings pass_settings(const BakeOptions &options, const Look &look)
{
    BakePassSettings settings;
    settings.points = options.points;
    settings.threads = options.threads;
    settings.seed = look.seed;
    settings.show_progress = options.show_progress;
    return settings;
}

// What the shader pass tells of its results.
struct PassFacts {
    PixelMeaning meaning;
    int samples;
};

// Runs `bake` in the look's shader pass, over the frame scene that occludes:
// the high model where there is one, the scene itself otherwise.
PassFacts run_pass(const PreviewSession &session, const Look &look, const HighModel &high,
                   const std::function<void(const LoadedShader &, const FrameScene &, miShaderRecord &)> &bake)
{
    PassFacts facts{PixelMeaning::colour, 0};
    session.run_shader(look, [&](const ShaderPass &pass) {
        const FrameScene frame = make_frame_scene(high.tracer ? *high.tracer : session.tracer(), session.environment(),
                                                  pass.record, pass.attachments, session.up());
        bake(pass.shader, frame, pass.shader_record);
        facts = {pass.meaning, pass.samples};
    });
    return facts;
}

// The warning about threads that could not start, and the end of the
// summary line: the probes and their rate.
std::string cost(const BakePassStatistics &statistics, const BakeOptions &options,
                 const std::function<void(const std::string &)> &warn)
{
    if (statistics.threads < options.threads)
        warn("only " + std::to_string(statistics.threads) + " of " + std::to_string(options.threads) +
             " baking threads could be started (" + statistics.thread_start_fault + "); the result is the same");
    const double seconds = statistics.seconds;
    return std::to_string(statistics.probe_rays) + " probe rays, " +
           format("%.2f s, %.2f million probe rays/s", seconds,
                  seconds > 0.0 ? statistics.probe_rays / seconds / 1e6 : 0.0);
}

std::string bake_texture_file(const PreviewSession &session, const Look &look, const BakeOptions &options,
                              const std::function<void(const std::string &)> &warn)
{
    const Mesh &low = session.scene().loaded.mesh;
    if (low.uv_sets.empty())
        throw std::invalid_argument(options.scene_name +
                                    ": the scene has no texture coordinates to bake a texture over; "
                                    "--bake vertices bakes it into its vertices' colours instead");
    if (static_cast<std::size_t>(options.uv_set) > low.uv_sets.size())
        throw std::invalid_argument("--uv " + std::to_string(options.uv_set) + ": " + options.scene_name +
                                    " has " + count_of(low.uv_sets.size(), "UV set", "UV sets"));
    const auto texels = static_cast<std::uint64_t>(options.width) * static_cast<std::uint64_t>(options.height);
    // The floats baked, a state each, and the file's bytes.
    check_memory(texels * (sizeof(miColor) + 1 + 2 * 4),
                 "--bake-size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                     ": the texture");
    HighModel high;
    load_high_model(options, low, warn, high);
    const std::size_t set = static_cast<std::size_t>(options.uv_set - 1);
    const UVLayout layout(low, set, options.width, options.height);
    const std::string uv_name = "UV set " + std::to_string(options.uv_set);
    if (layout.empty())
        throw std::invalid_argument(options.scene_name + ": no triangle of " + uv_name +
                                    " covers a texel of the texture");
    if (layout.triangles_without_area() > 0)
        warn(count_of(layout.triangles_without_area(), "triangle has", "triangles have") + " no area in " +
             uv_name + " (or no coordinates there) and take no texels; they still occlude");
    if (layout.triangles_reaching_out() > 0)
        warn(count_of(layout.triangles_reaching_out(), "triangle reaches", "triangles reach") +
             " outside the 0 to 1 square of " + uv_name + "; only what lies inside it is baked");

    const BakeSurface surface = high.tracer ? BakeSurface(low, *high.tracer, high.cage) : BakeSurface(low);
    const TextureBakeSettings settings{pass_settings(options, look), options.padding};
    TextureBakeStatistics statistics;
    Image image;
    const PassFacts facts =
        run_pass(session, look, high, [&](const LoadedShader &shader, const FrameScene &frame, miShaderRecord &record) {
            image = bake_texture(shader, frame, record, layout, surface, settings, statistics);
        });
    const std::string spent = cost(statistics, options, warn);
    if (statistics.points_covered == 0)
        throw std::invalid_argument(options.scene_name + ": no triangle of " + uv_name +
                                    " covers a texel of the texture");
    if (statistics.points_shared > 0)
        warn(format("UV islands overlap (mirrored or stacked) over %.1f %% of the covered texel points of ",
                    100.0 * static_cast<double>(statistics.points_shared) / statistics.points_covered) +
             uv_name + "; each is shaded once, for the first of its triangles in the scene");
    const std::string cage = format("%g", high.cage);
    if (statistics.texels_baked == 0)
        throw std::invalid_argument(options.high + ": no texel finds its surface within --cage " + cage +
                                    " of " + options.scene_name);
    if (statistics.texels_missed > 0)
        warn(std::to_string(statistics.texels_missed) + " of " +
             std::to_string(statistics.texels_missed + statistics.texels_baked) +
             " covered texels find no surface of " + options.high + " within --cage " + cage + " along their normal; they are transparent");

    write_image(image, options.output, facts.meaning, options.png_bits);
    return options.output + ": " + std::to_string(options.width) + "x" + std::to_string(options.height) +
           " texels, " + std::to_string(facts.samples) + " samples, " + std::to_string(statistics.texels_baked) +
           " texels baked, " + spent;
}

std::string bake_vertex_file(const PreviewSession &session, const Look &look, const BakeOptions &options,
                             const std::function<void(const std::string &)> &warn)
{
    const Mesh &low = session.scene().loaded.mesh;
    HighModel high;
    load_high_model(options, low, warn, high);
    const BakeSurface surface = high.tracer ? BakeSurface(low, *high.tracer, high.cage) : BakeSurface(low);
    VertexBakeStatistics statistics;
    std::vector<miColor> colours;
    const PassFacts facts =
        run_pass(session, look, high, [&](const LoadedShader &shader, const FrameScene &frame, miShaderRecord &record) {
            colours = bake_vertices(shader, frame, record, low, surface, pass_settings(options, look), statistics);
        });
    const std::string spent = cost(statistics, options, warn);
    const std::string cage = format("%g", high.cage);
    if (statistics.vertices_missed == colours.size())
        throw std::invalid_argument(options.high + ": no vertex finds its surface within --cage " + cage +
                                    " of " + options.scene_name);
    if (statistics.vertices_missed > 0)
        warn(std::to_string(statistics.vertices_missed) + " of " + std::to_string(colours.size()) +
             " vertices find no surface of " + options.high + " within --cage " + cage +
             " along their normal; their colour is transparent black");

    write_vertex_colours(low, colours, facts.meaning, options.output, session.up(), session.scene().units_per_metre);
    return options.output + ": " + count_of(colours.size(), "vertex", "vertices") + ", " +
           std::to_string(facts.samples) + " samples, " + std::to_string(statistics.points_shaded) +
           " points shaded, " + spent;
}

}  // namespace

void check_bake_output(const BakeOptions &options)
{
    if (options.kind == BakeOptions::Kind::texture)
        check_output_path(options.output);
    else
        check_vertex_output(options.output);
}

std::string run_bake(const PreviewSession &session, const Look &look, const BakeOptions &options,
                     const std::function<void(const std::string &)> &warn)
{
    return options.kind == BakeOptions::Kind::texture ? bake_texture_file(session, look, options, warn)
                                                      : bake_vertex_file(session, look, options, warn);
}
