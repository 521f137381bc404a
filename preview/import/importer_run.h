// What the program and its importer's process agree on.
#ifndef UMBREX_PREVIEW_IMPORT_IMPORTER_RUN_H
#define UMBREX_PREVIEW_IMPORT_IMPORTER_RUN_H

// The internal flag, first of the arguments: the flag, the scene file, the
// seconds allowed, the bytes of address space, the program's process id;
// then the meshes to leave out, each as --hide PATTERN or --only PATTERN.
constexpr const char *importer_flag = "--importer-process";

// The descriptor the answer goes to.
constexpr int importer_answer_fd = 3;

// The exit status of an importer that ran out of memory.
constexpr int importer_out_of_memory = 86;

#endif
