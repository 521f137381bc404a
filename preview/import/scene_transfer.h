// The imported scene as the importer's process hands it to the program, over
// a pipe: a tag and a version, then the scene's structures field by field in
// a fixed order, then an end mark; or, instead of a scene, the line that
// says why there is none. The program trusts nothing it reads: counts are
// held against what arrives and against a byte budget, indices must lie in
// range, coordinates and normals must be finite, and every text is made
// printable and short enough for one line.
#ifndef UMBREX_PREVIEW_IMPORT_SCENE_TRANSFER_H
#define UMBREX_PREVIEW_IMPORT_SCENE_TRANSFER_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "preview/scene/scene_import.h"

// Why an answer could not be read.
struct TransferError : std::runtime_error {
    enum class Kind { malformed, ended_early, timed_out };
    TransferError(Kind kind, const std::string &what) : std::runtime_error(what), kind(kind) {}
    Kind kind;
};

// Throws TransferError (ended_early) where a write fails.
void send_scene(int fd, const ImportedScene &scene);
void send_failure(int fd, const std::string &message);

struct ImportAnswer {
    std::optional<ImportedScene> scene;
    std::string failure;  // the importer's line where there is no scene
};

// Reads one answer to its end mark and checks it; stops at `deadline`, and
// once more than `byte_limit` bytes are announced. Throws TransferError.
ImportAnswer receive_answer(int fd, std::chrono::steady_clock::time_point deadline, std::uint64_t byte_limit);

// How long a line of the importer's may be after the name of the scene file.
constexpr std::size_t importer_text_limit = 240;

#endif
