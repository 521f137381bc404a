#include "preview/render/preview_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "preview/import/import_apart.h"
#include "preview/printable_text.h"
#include "preview/scene/counted_words.h"
#include "preview/shading/attachments.h"
#include "preview/shading/parameter_record.h"
#include "preview/value_parsing.h"

namespace {

Environment make_environment(const std::string &text)
{
    if (text.empty())
        return Environment::sky();
    if (lowercase_extension(text) == ".hdr")
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
float parameter_value(const ParameterRecord &record, const ShaderDeclaration &declaration, const char *name,
                      float otherwise)
{
    const DeclaredParameter *p = declaration.find(name);
    return p ? record.value(*p)[0] : otherwise;
}

// The samples parameter as the shader reads it, 0 when the declaration lacks
// it. An integer exactly: a float holds only 24 of its bits, and turns
// 2147483647 into 2^31, which no int holds.
int samples_parameter(const ParameterRecord &record, const ShaderDeclaration &declaration)
{
    const DeclaredParameter *p = declaration.find("samples");
    if (!p)
        return 0;
    if (p->type != ParameterType::integer)
        return static_cast<int>(std::clamp(record.value(*p)[0], -2e9f, 2e9f));
    std::int32_t samples;
    std::memcpy(&samples, static_cast<const unsigned char *>(record.fields()) + p->offset, sizeof samples);
    return samples;
}

// The record with the look's values and attachments; the attachments point
// into the record's declaration and must live as long as it.
ParameterRecord make_record(const ShaderDeclaration &declaration, const Look &look,
                            std::vector<Attachment> &attachments, AttachedImages &images)
{
    ParameterRecord record(declaration);
    for (const std::string &assignment : look.sets)
        record.set(assignment);
    attachments.reserve(look.attachments.size());
    for (const std::string &attachment : look.attachments)
        attachments.push_back(attach_parameter(attachment, record, images));
    return record;
}

std::string names_of(const std::vector<SceneCamera> &cameras)
{
    std::vector<std::string> names;
    for (const SceneCamera &camera : cameras)
        names.push_back(camera.name);
    return quoted_names(names);
}

}  // namespace

ImportedScene load_session_scene(const SessionOptions &options)
{
    ImportedScene scene;
    if (options.scene.empty()) {
        scene.loaded = {make_default_scene(), {}, {MeshSummary{}}};
        MeshSummary &summary = scene.loaded.meshes[0];
        const Bounds bounds = bounds_of(scene.loaded.mesh);
        summary = {"built-in scene", scene.loaded.mesh.triangles.size(), 1, 0, {},
                   scene.loaded.mesh.origin + to_double(bounds.low), scene.loaded.mesh.origin + to_double(bounds.high)};
        scene.format = "built in";
        scene.up = UpAxis::y;
        scene.up_note = "built that way";
        scene.units_per_metre = 1.0;
        scene.units_note = "built that way";
        // Its one mesh, by the name --list gives it.
        if (!options.choice.shows({summary.name}))
            throw SceneError("--hide and --only leave no triangles of the built-in scene to render");
        for (const std::string &unmatched : options.choice.unmatched())
            scene.loaded.warnings.push_back("the built-in scene: " + unmatched);
    } else {
        scene = import_scene_apart(options.scene, {options.import_timeout_seconds}, options.choice);
    }
    if (options.units_per_metre) {
        if (!(*options.units_per_metre > 0.0))
            throw std::invalid_argument("--scale: scene units per metre must be above 0");
        scene.units_per_metre = options.units_per_metre;
        scene.units_note = "--scale";
    }
    return scene;
}

PreviewSession::PreviewSession(const SessionOptions &options)
    : options_(options),
      declaration_(read_shader_declaration(options.declaration)),
      shader_(load_shader(options.library, declaration_)),
      environment_(make_environment(options.environment)),
      scene_(load_session_scene(options)),
      up_(options.up.value_or(scene_.up.value_or(UpAxis::y)))
{
    require_triangles(scene_, printable(options.scene));
    framing_ = frame_scene(mesh_, scene_.loaded.meshes);
    if (!framing_.set_aside.empty()) {
        scene_.loaded.warnings.push_back(
            "the framing leaves out " + quoted_names(framing_.set_aside) +
            ": each holds under 1 % of the triangles and reaches far past the rest; it still shows and occludes "
            "(--hide leaves it out)");
    }
    if (!options.camera.empty() && !options.camera_name.empty())
        throw std::invalid_argument("--camera and --camera-name both choose the camera; give one");
    if (!options.camera_name.empty()) {
        const auto &cameras = scene_.cameras;
        const auto found = std::find_if(cameras.begin(), cameras.end(),
                                        [&](const SceneCamera &c) { return c.name == options.camera_name; });
        if (found == cameras.end())
            throw std::invalid_argument("--camera-name: the scene has no camera \"" + options.camera_name + "\"" +
                                        (cameras.empty() ? std::string("; it has no cameras at all")
                                                         : "; its cameras are " + names_of(cameras)));
        // Throws for a camera that is not a pinhole, or stands out of reach.
        check_camera_reach(found->view(1.0f), mesh_, "camera \"" + found->name + "\"");
        file_camera_ = &*found;
    } else if (options.camera.empty() && !scene_.cameras.empty()) {
        const SceneCamera &first = scene_.cameras.front();
        try {
            check_camera_reach(first.view(1.0f), mesh_, "camera \"" + first.name + "\"");
            file_camera_ = &first;
        } catch (const std::invalid_argument &fault) {
            scene_.loaded.warnings.push_back(std::string(fault.what()) + "; framing the scene instead");
        }
    }
    if (!options.camera.empty())
        check_camera_reach(parse_camera(options.camera), mesh_);
    tracer_ = std::make_unique<RayTracer>(mesh_);
}

Camera PreviewSession::starting_camera(int width, int height) const
{
    const float aspect = static_cast<float>(width) / static_cast<float>(height);
    if (!options_.camera.empty())
        return parse_camera(options_.camera);
    if (file_camera_)
        return file_camera_->view(aspect);
    if (options_.scene.empty())
        return default_scene_camera();
    return framing_camera(framing_.bounds, mesh_.origin, aspect, up_);
}

std::string PreviewSession::starting_camera_name() const
{
    if (!options_.camera.empty())
        return "--camera";
    if (file_camera_)
        return "the camera \"" + file_camera_->name + "\"";
    return "the framing camera";
}

bool PreviewSession::sees_scene(const Camera &camera, int width, int height) const
{
    const CameraRays rays(camera, mesh_.origin, up_, width, height);
    constexpr int across = 64, down = 36;
    std::vector<Vec3> directions;
    for (int y = 0; y < down; ++y) {
        for (int x = 0; x < across; ++x)
            directions.push_back(rays.direction((x + 0.5) * width / across, (y + 0.5) * height / down));
    }
    RayHit hits[RayTracer::max_bundle];
    for (std::size_t first = 0; first < directions.size(); first += RayTracer::max_bundle) {
        const std::size_t count = std::min(RayTracer::max_bundle, directions.size() - first);
        tracer_->intersect_bundle(rays.eye(), directions.data() + first, count, hits);
        for (std::size_t i = 0; i < count; ++i) {
            if (hits[i].triangle != no_triangle)
                return true;
        }
    }
    return false;
}

std::string reach_warning(const ShaderDeclaration &declaration, const Look &look, const Framing &framing)
{
    const DeclaredParameter *stop = declaration.find("falloff_stop");
    for (const std::string &assignment : look.sets) {
        if (assignment.rfind("falloff_stop=", 0) == 0)
            return {};
    }
    const double size = framing.size();
    if (!stop || stop->default_value.empty() || !(size > 0.0))
        return {};
    const double reach = stop->default_value[0];
    if (!(reach > 0.0) || (reach >= 1e-3 * size && reach <= 100.0 * size))  // 0 sets no stop
        return {};
    char text[320];
    std::snprintf(text, sizeof text,
                  "falloff_stop is the declaration's %g scene units, %s the scene's size of %.3g units, so %s; "
                  "--set falloff_stop=%g suits the scene (a tenth of its size)",
                  reach, reach < size ? "a tiny share of" : "far beyond", size,
                  reach < size ? "hardly any occlusion shows" : "occlusion spans the whole scene",
                  suited_reach(size));
    return text;
}

int PreviewSession::check(const Look &look) const
{
    std::vector<Attachment> attachments;
    const ParameterRecord record = make_record(declaration_, look, attachments, attached_images_);
    if (!look.camera.empty())
        check_camera_reach(parse_camera(look.camera), mesh_);
    return samples_parameter(record, declaration_);
}

void PreviewSession::run_shader(const Look &look, const std::function<void(const ShaderPass &)> &pass) const
{
    std::vector<Attachment> attachments;
    ParameterRecord record = make_record(declaration_, look, attachments, attached_images_);

    // The host's calls around a frame: init for the shader as a whole, and
    // per instance if it asks; exit in the reverse order.
    miShaderRecord shader_record{record.ghost_offs()};
    miState host_state{};
    host_state.shader = &shader_record;
    miBoolean per_instance = miFALSE;
    shader_.init(&host_state, nullptr, &per_instance);
    auto *instance = static_cast<Umbrex_params *>(record.fields());
    if (per_instance) {
        miBoolean unused = miFALSE;
        shader_.init(&host_state, instance, &unused);
    }
    const bool bent_normals = parameter_value(record, declaration_, "bent_normals", 0.0f) != 0.0f;
    pass({shader_, record, attachments, shader_record,
          samples_parameter(record, declaration_),
          bent_normals ? PixelMeaning::data : PixelMeaning::colour});
    if (per_instance)
        shader_.exit(&host_state, instance);
    shader_.exit(&host_state, nullptr);
}

PassPlan PreviewSession::pass_plan(const Look &look) const
{
    const DeclaredParameter *samples = declaration_.find("samples");
    const bool splits = samples && samples->type == ParameterType::integer;
    return {check(look), splits ? look.pass_samples : 0};
}

RenderedLook PreviewSession::render_pass(const Look &look, int pass, int threads, bool show_progress,
                                         const std::atomic<bool> *cancel) const
{
    const Camera camera = look.camera.empty() ? starting_camera(look.width, look.height) : parse_camera(look.camera);
    if (!look.camera.empty())
        check_camera_reach(camera, mesh_);

    RenderSettings settings;
    settings.width = look.width;
    settings.height = look.height;
    settings.up = up_;
    settings.camera_rays = look.camera_rays;
    settings.seed = look.seed;
    settings.pass = static_cast<std::uint32_t>(pass);
    settings.threads = threads;
    settings.show_progress = show_progress;
    settings.cancel = cancel;

    const PassPlan plan = pass_plan(look);
    Look pass_look = look;
    if (plan.split())
        pass_look.sets.push_back("samples=" + std::to_string(plan.samples_of(pass)));
    RenderedLook rendered;
    run_shader(pass_look, [&](const ShaderPass &shader_pass) {
        const FrameScene frame =
            make_frame_scene(*tracer_, environment_, shader_pass.record, shader_pass.attachments, up_);
        rendered.image =
            render_frame(shader_pass.shader, frame, shader_pass.shader_record, camera, settings, rendered.statistics);
        rendered.meaning = shader_pass.meaning;
    });
    rendered.samples = plan.samples;
    return rendered;
}

RenderedLook PreviewSession::render(const Look &look, int threads, bool show_progress,
                                    const std::atomic<bool> *cancel) const
{
    const PassPlan plan = pass_plan(look);
    RenderedLook rendered = render_pass(look, 0, threads, show_progress, cancel);
    if (plan.passes() == 1 || rendered.statistics.cancelled)
        return rendered;
    PassAccumulation sum(look.width, look.height);
    sum.add(rendered.image, plan.samples_of(0));
    for (int pass = 1; pass < plan.passes(); ++pass) {
        const RenderedLook next = render_pass(look, pass, threads, show_progress, cancel);
        FrameStatistics &total = rendered.statistics;
        total.probe_rays += next.statistics.probe_rays;
        total.seconds += next.statistics.seconds;
        total.cancelled = next.statistics.cancelled;
        if (total.cancelled)
            return rendered;
        sum.add(next.image, plan.samples_of(pass));
    }
    rendered.image = sum.mean();
    return rendered;
}

PreviewSession::SceneBounds PreviewSession::bounds() const
{
    const Bounds &b = framing_.bounds;
    return {mesh_.origin + to_double(b.low), mesh_.origin + to_double(b.high)};
}

std::optional<DVec3> PreviewSession::pick(const Camera &camera, int width, int height, double x, double y) const
{
    check_camera_reach(camera, mesh_);
    const CameraRays rays(camera, mesh_.origin, up_, width, height);
    const Vec3 direction = rays.direction(x, y);
    RayHit hit;
    tracer_->intersect_bundle(rays.eye(), &direction, 1, &hit);
    if (hit.triangle == no_triangle)
        return std::nullopt;
    const auto &corners = mesh_.triangles[hit.triangle];
    const DVec3 a = to_double(mesh_.positions[corners[0]]);
    const DVec3 b = to_double(mesh_.positions[corners[1]]);
    const DVec3 c = to_double(mesh_.positions[corners[2]]);
    return mesh_.origin + a + (b - a) * static_cast<double>(hit.u) + (c - a) * static_cast<double>(hit.v);
}
