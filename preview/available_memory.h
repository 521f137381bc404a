// How much memory the machine has to give, for the checks made before a
// frame, a bake or an import takes it.
#ifndef UMBREX_PREVIEW_AVAILABLE_MEMORY_H
#define UMBREX_PREVIEW_AVAILABLE_MEMORY_H

#include <cstdint>

// Memory the system can give without swapping, as the kernel estimates it.
std::uint64_t available_memory();

#endif
