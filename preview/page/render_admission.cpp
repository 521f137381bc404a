#include "preview/page/render_admission.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "preview/render/renderer.h"

namespace {

std::string decimal(unsigned __int128 value)
{
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Why `memory` bytes for a frame of that size do not fit in `available`: the
// frame's own fault, or, where what comes beside the frame makes the
// difference, a line that says so.
std::string memory_fault(int width, int height, std::uint64_t memory, std::uint64_t available)
{
    const std::string frame = frame_memory_fault(width, height, available);
    if (!frame.empty() || memory <= available)
        return frame;
    char text[160];
    std::snprintf(text, sizeof text, "--width %d --height %d: the image and its passes' sum need %.1f GiB of memory, and %.1f GiB is available",
                  width, height, memory / 1073741824.0, available / 1073741824.0);
    return text;
}

}  // namespace

std::string work_fault(int width, int height, int camera_rays, int samples, std::uint64_t max_work)
{
    const auto rays = static_cast<unsigned __int128>(width) * static_cast<unsigned>(height) *
                      static_cast<unsigned>(camera_rays);
    const unsigned __int128 work = rays * static_cast<unsigned>(std::max(samples, 1));
    if (work <= max_work)
        return {};
    return std::to_string(width) + "x" + std::to_string(height) + " pixels x " + std::to_string(camera_rays) +
           " camera rays x " + std::to_string(samples) + " samples is " + decimal(work) +
           " of work, over the cap of " + decimal(max_work) + " (--max-work raises it)";
}

RenderAdmission::Ticket::Ticket(RenderAdmission &admission, std::list<Render>::iterator render)
    : admission_(admission), render_(render)
{
}

RenderAdmission::Ticket::~Ticket() { admission_.release(render_); }

const std::atomic<bool> *RenderAdmission::Ticket::cancel() const { return &render_->cancel; }

RenderAdmission::Cancelled RenderAdmission::Ticket::why() const
{
    std::lock_guard<std::mutex> lock(admission_.mutex_);
    return render_->why;
}

RenderAdmission::RenderAdmission(AdmissionLimits limits, std::function<std::uint64_t()> available)
    : limits_(limits), available_(std::move(available))
{
}

std::variant<std::unique_ptr<RenderAdmission::Ticket>, Refusal>
RenderAdmission::admit(const std::string &tab, int width, int height, std::function<bool()> client_gone,
                       std::uint64_t extra_memory)
{
    const std::uint64_t memory = frame_memory(width, height) + extra_memory;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return Refusal{503, "the server is stopping"};
    const std::uint64_t number = ++requests_;
    newest_[tab] = number;
    for (Render &render : in_flight_) {
        if (render.tab == tab)
            cancel(render, Cancelled::superseded);
    }
    changed_.notify_all();  // an older request of the tab that waits gives up
    if (waiting_ >= limits_.waiting) {
        forget_tab_if_newest(tab, number);
        return Refusal{503, "busy: " + std::to_string(waiting_) + " requests wait for a render already"};
    }

    ++waiting_;
    const auto deadline = std::chrono::steady_clock::now() + limits_.patience;
    std::optional<Refusal> refusal;
    for (;;) {
        if (stopping_) {
            refusal = Refusal{503, "the server is stopping"};
            break;
        }
        if (newest_[tab] != number || client_gone()) {
            refusal = Refusal{409, "superseded by a newer change"};
            break;
        }
        // Counted as though none of the frames in flight were allocated yet.
        const std::uint64_t available = available_();
        if (memory > available + reserved_) {
            refusal = Refusal{413, memory_fault(width, height, memory, available + reserved_)};
            break;
        }
        const bool tab_free =
            std::none_of(in_flight_.begin(), in_flight_.end(), [&](const Render &r) { return r.tab == tab; });
        const bool memory_free = reserved_ + memory <= available;
        if (tab_free && memory_free && in_flight_.size() < static_cast<std::size_t>(limits_.renders_at_once))
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (!memory_free)
                refusal = Refusal{503, "busy: " + memory_fault(width, height, memory, available > reserved_ ? available - reserved_ : 0) +
                                           " beside the frames in flight"};
            else
                refusal = Refusal{503, "busy: " + std::to_string(in_flight_.size()) + " renders in flight, " +
                                           std::to_string(limits_.renders_at_once) + " at most at once"};
            break;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    --waiting_;
    if (refusal) {
        forget_tab_if_newest(tab, number);
        return *refusal;
    }
    in_flight_.emplace_back();
    Render &render = in_flight_.back();
    render.tab = tab;
    render.number = number;
    render.memory = memory;
    render.client_gone = std::move(client_gone);
    reserved_ += memory;
    ++started_;
    return std::make_unique<Ticket>(*this, std::prev(in_flight_.end()));
}

void RenderAdmission::watch_clients()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Render &render : in_flight_) {
        if (render.why == Cancelled::no && render.client_gone())
            cancel(render, Cancelled::client_gone);
    }
}

void RenderAdmission::stop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (Render &render : in_flight_)
        cancel(render, Cancelled::stopping);
    changed_.notify_all();
}

RenderAdmission::Counts RenderAdmission::counts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {started_, static_cast<int>(in_flight_.size()), waiting_};
}

void RenderAdmission::cancel(Render &render, Cancelled why)
{
    if (render.why == Cancelled::no)
        render.why = why;
    render.cancel.store(true);
}

void RenderAdmission::forget_tab_if_newest(const std::string &tab, std::uint64_t number)
{
    const auto found = newest_.find(tab);
    if (found != newest_.end() && found->second == number)
        newest_.erase(found);
}

void RenderAdmission::release(std::list<Render>::iterator render)
{
    std::lock_guard<std::mutex> lock(mutex_);
    reserved_ -= render->memory;
    forget_tab_if_newest(render->tab, render->number);
    in_flight_.erase(render);
    changed_.notify_all();
}
