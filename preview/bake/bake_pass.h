// What texture and vertex bakes share: how their work is shared out over
// threads a tile at a time, and what it cost.
#ifndef UMBREX_PREVIEW_BAKE_PASS_H
#define UMBREX_PREVIEW_BAKE_PASS_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "preview/render/tile_threads.h"

struct BakePassSettings {
    int points = 1;  // per texel, or per face around a vertex
    int threads = 1;
    std::uint32_t seed = 0;  // picks the sample pattern, as in a render
    bool show_progress = false;
};

struct BakePassStatistics {
    std::uint64_t probe_rays = 0;
    double seconds = 0.0;
    int threads = 0;  // that baked; fewer than asked when some could not start
    std::string thread_start_fault;
};

// Makes a worker per thread with make(workers, index), which emplaces it at
// the back, and has them bake `tiles` tiles (worker.bake_tile(tile)); sets
// the threads and the time in `statistics` and returns the workers, whose
// counts the caller gathers.
template <typename Worker, typename Make>
std::deque<Worker> bake_tiles(int tiles, const BakePassSettings &settings, BakePassStatistics &statistics,
                              Make &&make)
{
    const auto start = std::chrono::steady_clock::now();
    std::deque<Worker> workers;
    for (int i = 0; i < settings.threads; ++i)
        make(workers, i);
    const TileRun run =
        run_tiles(tiles, settings.threads, settings.show_progress, nullptr,
                  [&](int worker, int tile) { workers[static_cast<std::size_t>(worker)].bake_tile(tile); });
    statistics.threads = run.threads;
    statistics.thread_start_fault = run.thread_start_fault;
    statistics.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const Worker &worker : workers)
        statistics.probe_rays += worker.probe_rays();
    return workers;
}

#endif
