// Work shared among threads a tile at a time: the calling thread and as many
// more as can be started take the next tile until none is left, with a
// progress bar on standard error if asked. Renders and bakes share it.
#ifndef UMBREX_PREVIEW_TILE_THREADS_H
#define UMBREX_PREVIEW_TILE_THREADS_H

#include <atomic>
#include <functional>
#include <string>

struct TileRun {
    int threads = 0;                 // that worked; fewer than asked when some could not start
    bool cancelled = false;          // stopped before every tile was done
    std::string thread_start_fault;  // why not, then
};

// Calls work(worker, tile) for every tile from 0 to count - 1, each once,
// worker being the index (0 to threads - 1) of the thread that calls it:
// worker 0 is the calling thread. Stops between tiles once `cancel` (when
// set) turns true.
TileRun run_tiles(int count, int threads, bool show_progress, const std::atomic<bool> *cancel,
                  const std::function<void(int worker, int tile)> &work);

#endif
