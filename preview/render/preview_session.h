// What a render needs that stays the same from one look to the next: the
// declaration, the loaded library, the environment, the scene and its tracer.
// The command line renders one look with it; the look-dev page many.
#ifndef UMBREX_PREVIEW_SESSION_H
#define UMBREX_PREVIEW_SESSION_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "preview/render/pass_accumulation.h"
#include "preview/render/renderer.h"
#include "preview/scene/camera.h"
#include "preview/scene/mesh.h"
#include "preview/scene/ray_tracer.h"
#include "preview/scene/scene_framing.h"
#include "preview/scene/scene_import.h"
#include "preview/shading/attachments.h"
#include "preview/shading/environment.h"
#include "preview/shading/parameter_record.h"
#include "preview/shading/shader_declaration.h"
#include "preview/shading/shader_loader.h"

struct SessionOptions {
    std::string scene;        // any scene file; empty for the built-in scene
    std::string camera;       // as --camera takes it; empty for the file's camera or a framed one
    std::string camera_name;  // one of the file's cameras, by name
    MeshChoice choice;        // the meshes --hide and --only leave out
    std::optional<UpAxis> up;  // the file's, or Y, where not given
    std::optional<double> units_per_metre;  // the file's where not given
    std::string environment;  // as --environment takes it; empty for the sky
    std::string library;      // the shader library
    std::string declaration;  // its declaration
    int import_timeout_seconds = 120;  // how long the scene file may take to read
};

// One picture's settings, each in the form the command line takes it.
struct Look {
    std::vector<std::string> sets;         // name=value
    std::vector<std::string> attachments;  // name=checker:SCALE or name=FILE.hdr
    std::string camera;                    // empty for the session's starting camera
    int width = 640;
    int height = 360;
    int camera_rays = 1;
    std::uint32_t seed = 0;                // picks the sample pattern
    int pass_samples = 0;                  // render the samples in passes of this many; 0: one pass
};

// What a pass of the shader over the scene has to work with: the shader,
// the look's parameter record with its attachments, and the host's record of
// the running shader.
struct ShaderPass {
    const LoadedShader &shader;
    const ParameterRecord &record;
    const std::vector<Attachment> &attachments;
    miShaderRecord &shader_record;
    int samples;           // the shader's samples parameter
    PixelMeaning meaning;  // data for bent normals
};

struct RenderedLook {
    Image image;
    PixelMeaning meaning;  // data for bent normals
    int samples;           // the shader's samples parameter
    FrameStatistics statistics;
};

// The scene the options name (the built-in one for none), read apart (see
// import_apart.h), with the given units, perhaps without triangles; throws
// SceneError or std::invalid_argument naming the fault.
ImportedScene load_session_scene(const SessionOptions &options);

// The line that says the look's falloff_stop, where the look leaves it at the
// declaration's default, is out of all proportion to the scene (below 0.1 %
// or above 100 times its size), with the value that suits it; empty otherwise.
std::string reach_warning(const ShaderDeclaration &declaration, const Look &look, const Framing &framing);

class PreviewSession {
public:
    // Loads everything; throws naming the input at fault (a scene without
    // triangles too). Warnings of the scene reader and of the framing are
    // kept in warnings().
    explicit PreviewSession(const SessionOptions &options);
    PreviewSession(const PreviewSession &) = delete;  // the tracer holds on to the mesh
    PreviewSession &operator=(const PreviewSession &) = delete;

    const ShaderDeclaration &declaration() const { return declaration_; }
    const std::vector<std::string> &warnings() const { return scene_.loaded.warnings; }
    UpAxis up() const { return up_; }
    const ImportedScene &scene() const { return scene_; }
    const RayTracer &tracer() const { return *tracer_; }
    const Environment &environment() const { return environment_; }
    const Framing &framing() const { return framing_; }

    // What the starting camera is called in a message: the file's camera
    // by name, "--camera", or the framing.
    std::string starting_camera_name() const;

    // Whether a camera ray through any of a coarse grid of the image's
    // points hits the scene.
    bool sees_scene(const Camera &camera, int width, int height) const;

    // The --camera given, the file's camera named by --camera-name or else
    // its first, the built-in scene's camera, or one framed on the scene for
    // an image of that shape.
    Camera starting_camera(int width, int height) const;

    // The look's values, checked as a render checks them (throws
    // std::invalid_argument naming the fault); returns the samples it asks for.
    int check(const Look &look) const;

    // How the look's samples split into passes (one pass where the
    // declaration has no integer samples).
    PassPlan pass_plan(const Look &look) const;

    // Renders the look with the shader as the host does, init and exit around
    // each frame: all its passes, added up. Stops within a bundle of camera
    // rays once `cancel` turns true.
    RenderedLook render(const Look &look, int threads, bool show_progress = false,
                        const std::atomic<bool> *cancel = nullptr) const;

    // Renders pass `pass` of the look alone (its samples, its pattern).
    RenderedLook render_pass(const Look &look, int pass, int threads, bool show_progress = false,
                             const std::atomic<bool> *cancel = nullptr) const;

    // The scene's bounds as the framing takes them (helper geometry set
    // aside), in its own coordinates.
    struct SceneBounds {
        DVec3 low, high;
    };
    SceneBounds bounds() const;

    // Where the camera ray through image position (x, y), in pixels from the
    // top left corner of an image of that size, first meets the scene, in
    // the scene's own coordinates; nothing where it meets nothing.
    std::optional<DVec3> pick(const Camera &camera, int width, int height, double x, double y) const;

    // Runs `pass` with the look's parameter record between the shader's init
    // and exit, as the host calls them around a frame.
    void run_shader(const Look &look, const std::function<void(const ShaderPass &)> &pass) const;

private:
    SessionOptions options_;
    ShaderDeclaration declaration_;
    LoadedShader shader_;
    Environment environment_;
    mutable AttachedImages attached_images_;  // read once for every render of a look
    ImportedScene scene_;
    const Mesh &mesh_ = scene_.loaded.mesh;
    UpAxis up_;
    Framing framing_;
    const SceneCamera *file_camera_ = nullptr;
    std::unique_ptr<RayTracer> tracer_;
};

#endif
