#include "preview/render/preview_session.h"

#include <algorithm>
#include <stdexcept>

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

// The record with the look's values and attachments; the attachments point
// into the record's declaration and must live as long as it.
ParameterRecord make_record(const ShaderDeclaration &declaration, const Look &look,
                            std::vector<Attachment> &attachments)
{
    ParameterRecord record(declaration);
    for (const std::string &assignment : look.sets)
        record.set(assignment);
    attachments.reserve(look.attachments.size());
    for (const std::string &spec : look.attachments)
        attachments.push_back(attach_parameter(spec, record));
    return record;
}

}  // namespace

PreviewSession::PreviewSession(const SessionOptions &options)
    : options_(options),
      declaration_(read_shader_declaration(options.declaration)),
      shader_(load_shader(options.library, declaration_)),
      environment_(make_environment(options.environment))
{
    LoadedScene scene = options.scene.empty() ? LoadedScene{make_default_scene(), {}} : load_obj(options.scene);
    mesh_ = std::move(scene.mesh);
    warnings_ = std::move(scene.warnings);
    if (!options.camera.empty())
        check_camera_reach(parse_camera(options.camera), mesh_);
    tracer_ = std::make_unique<RayTracer>(mesh_);
}

Camera PreviewSession::starting_camera(int width, int height) const
{
    if (!options_.camera.empty())
        return parse_camera(options_.camera);
    if (options_.scene.empty())
        return default_scene_camera();
    return framing_camera(mesh_, static_cast<float>(width) / static_cast<float>(height), options_.up);
}

int PreviewSession::check(const Look &look) const
{
    std::vector<Attachment> attachments;
    const ParameterRecord record = make_record(declaration_, look, attachments);
    if (!look.camera.empty())
        check_camera_reach(parse_camera(look.camera), mesh_);
    return static_cast<int>(parameter_value(record, declaration_, "samples", 0.0f));
}

RenderedLook PreviewSession::render(const Look &look, int threads, bool show_progress,
                                    const std::atomic<bool> *cancel) const
{
    std::vector<Attachment> attachments;
    ParameterRecord record = make_record(declaration_, look, attachments);
    Camera camera = starting_camera(look.width, look.height);
    if (!look.camera.empty()) {
        camera = parse_camera(look.camera);
        check_camera_reach(camera, mesh_);
    }
    const FrameScene frame = make_frame_scene(*tracer_, environment_, record, attachments, options_.up);

    RenderSettings settings;
    settings.width = look.width;
    settings.height = look.height;
    settings.up = options_.up;
    settings.camera_rays = look.camera_rays;
    settings.seed = look.seed;
    settings.threads = threads;
    settings.show_progress = show_progress;
    settings.cancel = cancel;

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
    RenderedLook rendered;
    rendered.image = render_frame(shader_, frame, shader_record, camera, settings, rendered.statistics);
    if (per_instance)
        shader_.exit(&host_state, instance);
    shader_.exit(&host_state, nullptr);

    const bool bent_normals = parameter_value(record, declaration_, "bent_normals", 0.0f) != 0.0f;
    rendered.meaning = bent_normals ? PixelMeaning::data : PixelMeaning::colour;
    rendered.samples = static_cast<int>(parameter_value(record, declaration_, "samples", 0.0f));
    return rendered;
}
