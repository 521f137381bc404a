// Which renders the look-dev server takes on, and when: each within a budget
// of work, at most one at a time per tab (a newer request cancels the older),
// a few at a time in all, and only while the memory of every frame in flight
// fits in what the machine has. Everything is decided before a frame is
// allocated.
#ifndef UMBREX_PREVIEW_RENDER_ADMISSION_H
#define UMBREX_PREVIEW_RENDER_ADMISSION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "preview/page/refusal.h"

// Work per render, in pixels x camera rays per pixel x samples: a final frame
// of 1920x1080 with 4 camera rays and 256 samples (2.1e9) stays under it.
constexpr std::uint64_t default_max_work = 4000000000;

// The one line saying a look's work and the cap when it is over the cap;
// nothing when it is within. A sample count below 1 counts as 1: the camera
// rays are traced all the same.
std::string work_fault(int width, int height, int camera_rays, int samples, std::uint64_t max_work);

struct AdmissionLimits {
    int renders_at_once = 2;  // in all tabs
    int waiting = 8;          // requests that may wait for a place; more are refused at once
    std::chrono::milliseconds patience{10000};  // how long one waits before it is refused
};

class RenderAdmission {
    struct Render;

public:
    // Why a render was cancelled.
    enum class Cancelled { no, superseded, client_gone, stopping };

    // A render's place: its frame's memory counted and its tab taken until
    // it is destroyed.
    class Ticket {
    public:
        Ticket(RenderAdmission &admission, std::list<Render>::iterator render);
        Ticket(const Ticket &) = delete;
        Ticket &operator=(const Ticket &) = delete;
        ~Ticket();
        // Turns true when a newer request of the tab supersedes the render,
        // its client goes away, or the server stops.
        const std::atomic<bool> *cancel() const;
        Cancelled why() const;

    private:
        RenderAdmission &admission_;
        std::list<Render>::iterator render_;
    };

    // `available` tells the memory the machine can give now.
    RenderAdmission(AdmissionLimits limits, std::function<std::uint64_t()> available);

    // A place for a frame of width x height (and `extra_memory` bytes beside
    // it) for the tab, once its older
    // render (cancelled here) has ended, fewer than renders_at_once are in
    // flight and the frame's memory fits beside theirs. Waits up to the
    // patience, asking `client_gone` as it waits; refuses with 413 a frame
    // that would not fit alone, 409 a request superseded while it waited,
    // 503 one that found no place.
    std::variant<std::unique_ptr<Ticket>, Refusal> admit(const std::string &tab, int width, int height,
                                                         std::function<bool()> client_gone,
                                                         std::uint64_t extra_memory = 0);

    // Cancels the renders whose clients have gone; called every few
    // milliseconds while the server runs.
    void watch_clients();

    // Cancels every render and waiting request, and refuses all new ones.
    void stop();

    struct Counts {
        std::uint64_t started = 0;  // renders admitted so far
        int in_flight = 0;
        int waiting = 0;
    };
    Counts counts() const;

private:
    struct Render {
        std::string tab;
        std::uint64_t number;  // of its request, among all
        std::uint64_t memory;
        std::function<bool()> client_gone;
        std::atomic<bool> cancel{false};
        Cancelled why = Cancelled::no;
    };

    void cancel(Render &render, Cancelled why);
    void forget_tab_if_newest(const std::string &tab, std::uint64_t number);
    void release(std::list<Render>::iterator render);

    const AdmissionLimits limits_;
    const std::function<std::uint64_t()> available_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Render> in_flight_;
    std::map<std::string, std::uint64_t> newest_;  // per tab, the number of its newest request
    std::uint64_t requests_ = 0;
    std::uint64_t started_ = 0;
    std::uint64_t reserved_ = 0;  // memory of the frames in flight
    int waiting_ = 0;
    bool stopping_ = false;
};

#endif
