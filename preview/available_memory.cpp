#include "preview/available_memory.h"

#include <unistd.h>

#include <fstream>
#include <limits>
#include <string>

std::uint64_t available_memory()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    while (meminfo >> key >> kibibytes) {
        if (key == "MemAvailable:")
            return kibibytes * 1024;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return static_cast<std::uint64_t>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}
