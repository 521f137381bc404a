#include "preview/render/tile_threads.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

namespace {

void show_progress(int done, int count, double elapsed)
{
    const double fraction = count > 0 ? static_cast<double>(done) / count : 1.0;
    const int filled = static_cast<int>(fraction * 30.0);
    const double left = fraction > 0.0 ? elapsed / fraction - elapsed : 0.0;
    std::fprintf(stderr, "\r[%-30s] %3d%%  %.1f s elapsed, about %.1f s left ",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 static_cast<int>(fraction * 100.0), elapsed, left);
}

}  // namespace

TileRun run_tiles(int count, int threads, bool show_progress_bar, const std::atomic<bool> *cancel,
                  const std::function<void(int worker, int tile)> &work)
{
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };
    const auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };

    std::atomic<int> next{0}, done{0};
    const auto run = [&](int worker) {
        for (int tile; !cancelled() && (tile = next.fetch_add(1)) < count; done.fetch_add(1))
            work(worker, tile);
    };

    // The calling thread is the first worker; a thread that cannot be started
    // leaves its share to the others.
    TileRun result;
    result.threads = 1;
    std::vector<std::thread> started;
    for (int i = 1; i < threads; ++i) {
        try {
            started.emplace_back(run, i);
            ++result.threads;
        } catch (const std::system_error &error) {
            result.thread_start_fault = error.code().message();
            break;
        }
    }
    std::thread progress;
    if (show_progress_bar) {
        try {
            progress = std::thread([&] {
                while (done.load() < count && !cancelled()) {
                    show_progress(done.load(), count, elapsed());
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
        } catch (const std::system_error &) {
            // No progress bar; the work is done all the same.
        }
    }
    run(0);
    for (std::thread &thread : started)
        thread.join();
    if (progress.joinable())
        progress.join();
    if (show_progress_bar) {
        show_progress(done.load(), count, elapsed());
        std::fprintf(stderr, "\n");
    }
    result.cancelled = done.load() < count;
    return result;
}
