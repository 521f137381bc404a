// Scene files are read apart from the program that shows them: in a process
// of its own (the program started again with an internal flag), under
// limits on its address space, processor time and wall time, reading only
// the scene's own files. It hands the flattened scene back over a pipe
// (scene_transfer.h), and the program checks it. A crash, a hang or a lack
// of memory in the importer becomes one line naming the file; the program
// itself never parses a byte of the scene.
#ifndef UMBREX_PREVIEW_IMPORT_IMPORT_APART_H
#define UMBREX_PREVIEW_IMPORT_IMPORT_APART_H

#include <cstdint>
#include <string>

#include "preview/scene/scene_import.h"

struct ImportLimits {
    int timeout_seconds = 120;  // wall time, and processor time, of the whole import
};

// Reads the scene file in a process of its own and returns what it found,
// checked, without the meshes `choice` leaves out; a scene without
// triangles comes back with what the file holds (require_triangles refuses
// it). Throws SceneError with one line naming the file and the fault. The
// program must hand its arguments to run_importer first thing in main.
ImportedScene import_scene_apart(const std::string &path, const ImportLimits &limits = {},
                                 const MeshChoice &choice = {});

// Whether the arguments start the importer's process, and its whole run.
bool is_importer_run(int argc, char **argv);
int run_importer(int argc, char **argv);

// Why there is no scene, from the importer's status as waitpid gives it,
// where it left no answer: "the importer crashed on it (segmentation
// fault)", "gave up after 120 s of reading (--import-timeout)", "the
// importer needed more than 2.0 GiB of memory".
std::string importer_end_reason(int wait_status, int timeout_seconds, std::uint64_t memory_bytes);

// The address space the importer gets: the memory available, at least
// 1 GiB, never more than this process's own limit.
std::uint64_t importer_memory_limit();

#endif
