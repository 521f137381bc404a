// Which machine a benchmark ran on, for its report.
#ifndef UMBREX_BENCH_MACHINE_H
#define UMBREX_BENCH_MACHINE_H

#include <fstream>
#include <string>
#include <thread>

inline std::string machine_description()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

#endif
