// How long a large OBJ takes to load, and the peak memory of doing it, with
// the OBJ reader umbrex-render uses (tinyobjloader) and with Assimp's: the
// figures behind keeping tinyobjloader for OBJ; and what reading it apart,
// as umbrex-render does, costs beside reading it in the same process. Each
// load runs in a child process of its own, so that its peak resident size
// is its own; an import apart has its importer's peak beside it.
//   scene_load_bench           1 million triangles, 3 loads per reader
//   scene_load_bench --smoke   tiny sizes, to show it runs

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "bench/bench_machine.h"
#include "bench/bench_scenes.h"
#include "preview/import/import_apart.h"
#include "preview/scene/scene_import.h"

namespace {

struct Measurement {
    bool ok = false;
    double seconds = 0.0;
    double peak_mib = 0.0;
    double importer_peak_mib = 0.0;  // of the importer's process, for an import apart
    std::size_t triangles = 0;
};

double peak_mib(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Runs `work` in a child; it reports its triangle count and time back
// through a pipe.
Measurement in_child(const std::function<std::size_t()> &work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const auto start = std::chrono::steady_clock::now();
        const std::size_t triangles = work();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The importer's end is waited for aside; its peak counts once it is reaped.
        while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
        }
        const Measurement m{true, seconds, peak_mib(RUSAGE_SELF), peak_mib(RUSAGE_CHILDREN), triangles};
        const bool written = write(channel[1], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
        _exit(written ? 0 : 1);
    }
    close(channel[1]);
    Measurement m;
    const ssize_t got = read(channel[0], &m, sizeof m);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return m;
}

}  // namespace

int main(int argc, char **argv)
{
    if (is_importer_run(argc, argv))
        return run_importer(argc, argv);
    const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const std::size_t size = smoke ? 5000 : 1000000;
    const int repeats = smoke ? 1 : 3;
    const std::string obj =
        (std::filesystem::temp_directory_path() / ("umbrex-load-bench-" + std::to_string(getpid()) + ".obj")).string();
    // Written by a child, so that this process stays small for the next.
    if (!in_child([&] {
            write_obj(make_bench_scene(size), obj);
            return std::size_t{0};
        }).ok) {
        std::fprintf(stderr, "scene_load_bench: could not write %s\n", obj.c_str());
        return 1;
    }
    std::printf("Machine: %s. Loading a generated OBJ of %.3g MB into the mesh that is traced; best time and "
                "largest peak of %d loads, each in a process of its own.\n\n",
                machine_description().c_str(), std::filesystem::file_size(obj) / 1e6, repeats);
    std::printf("| reader | triangles | load time (s) | peak resident memory (MiB) | the importer's peak (MiB) |\n");
    std::printf("|---|---|---|---|---|\n");
    const std::pair<const char *, std::function<std::size_t()>> readers[] = {
        {"tinyobjloader, read apart (umbrex-render's import)",
         [&] { return import_scene_apart(obj).loaded.mesh.triangles.size(); }},
        {"tinyobjloader, in the same process", [&] { return import_scene(obj).loaded.mesh.triangles.size(); }},
        {"Assimp, in the same process", [&] { return import_scene_with_assimp(obj).loaded.mesh.triangles.size(); }},
    };
    int status = 0;
    for (const auto &[name, load] : readers) {
        Measurement best;
        for (int i = 0; i < repeats; ++i) {
            const Measurement m = in_child(load);
            if (!m.ok) {
                best.ok = false;
                break;
            }
            best.seconds = best.ok ? std::min(best.seconds, m.seconds) : m.seconds;
            best.peak_mib = std::max(best.peak_mib, m.peak_mib);
            best.importer_peak_mib = std::max(best.importer_peak_mib, m.importer_peak_mib);
            best.triangles = m.triangles;
            best.ok = true;
        }
        if (best.ok) {
            std::printf("| %s | %zu | %.3f | %.0f | ", name, best.triangles, best.seconds, best.peak_mib);
            std::printf(best.importer_peak_mib > 0.0 ? "%.0f |\n" : "none |\n", best.importer_peak_mib);
        } else {
            std::printf("| %s | failed | | | |\n", name);
            status = 1;
        }
        std::fflush(stdout);
    }
    std::filesystem::remove(obj);
    return status;
}
