// A bake as the command line asks for it: the look's shader baked into a
// texture over the scene's UVs or into its vertices' colours, from the
// scene's own surface or from a high-resolution model's, and written out.
#ifndef UMBREX_PREVIEW_BAKE_COMMAND_H
#define UMBREX_PREVIEW_BAKE_COMMAND_H

#include <functional>
#include <optional>
#include <string>

#include "preview/import/import_apart.h"
#include "preview/render/preview_session.h"

struct BakeOptions {
    enum class Kind { texture, vertices } kind = Kind::texture;
    std::string scene_name;  // for messages: the scene file, or the built-in scene
    int width = 1024, height = 1024;
    int uv_set = 1;  // counted from 1
    int padding = 16;
    std::string high;             // the high-resolution model; empty to bake the scene's own surface
    std::optional<double> cage;   // how far from the scene the high model is looked for
    ImportLimits import_limits;   // for reading the high model, as the scene is read
    std::string output;
    int png_bits = 8;
    int points = 1;  // per texel, or per face around a vertex
    int threads = 1;
    bool show_progress = false;
};

// The cage where none is given: a twentieth of the diagonal of the scene's
// bounds.
constexpr double default_cage_share = 0.05;

// Fails early, before anything is loaded, for an output the bake cannot
// write: its kind or its folder.
void check_bake_output(const BakeOptions &options);

// Checks the scene and the high model, bakes and writes the output; says
// what is odd through `warn`, one line each. Returns the summary line.
// Throws naming the input at fault, leaving no file behind.
std::string run_bake(const PreviewSession &session, const Look &look, const BakeOptions &options,
                     const std::function<void(const std::string &)> &warn);

#endif
