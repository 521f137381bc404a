#include "preview/page/accumulation_store.h"

#include <algorithm>

std::string accumulation_key(const Look &look)
{
    // Fields apart by NUL bytes, which no value of a request holds.
    std::string key;
    const auto field = [&key](const std::string &text) { key += text + '\0'; };
    for (const std::string &assignment : look.sets) {
        if (assignment.compare(0, 8, "samples=") != 0)
            field("set " + assignment);
    }
    for (const std::string &attachment : look.attachments)
        field("attach " + attachment);
    field(look.camera);
    for (const int number : {look.width, look.height, look.camera_rays, look.pass_samples})
        field(std::to_string(number));
    field(std::to_string(look.seed));
    return key;
}

AccumulationStore::Claim::~Claim()
{
    if (!store_)
        return;
    std::lock_guard<std::mutex> lock(store_->mutex_);
    entry_->busy = false;
    entry_->used = ++store_->uses_;
}

void AccumulationStore::Claim::add(const Image &pass, int samples, PixelMeaning meaning)
{
    entry_->sum.add(pass, samples);
    entry_->meaning = meaning;
}

bool AccumulationStore::leads_to(const Entry &entry, const PassPlan &plan)
{
    const int done = entry.sum.passes();
    if (entry.plan.pass_samples != plan.pass_samples || done > plan.passes())
        return false;
    // Passes are full until the last: the same as long as both plans' are full.
    return entry.plan.samples == plan.samples ||
           (plan.pass_samples > 0 &&
            std::int64_t{done} * plan.pass_samples <= std::min(entry.plan.samples, plan.samples));
}

bool AccumulationStore::make_room(std::uint64_t bytes)
{
    if (bytes > limits_.bytes)
        return false;
    while (bytes_ + bytes > limits_.bytes || entries_.size() >= limits_.images) {
        auto oldest = entries_.end();
        for (auto e = entries_.begin(); e != entries_.end(); ++e) {
            if (!e->busy && (oldest == entries_.end() || e->used < oldest->used))
                oldest = e;
        }
        if (oldest == entries_.end())
            return false;
        bytes_ -= PassAccumulation::memory(oldest->sum.width(), oldest->sum.height());
        entries_.erase(oldest);
    }
    return true;
}

std::list<AccumulationStore::Entry>::iterator AccumulationStore::add_entry(const std::string &tab,
                                                                           const std::string &key,
                                                                           const PassPlan &plan, int width,
                                                                           int height)
{
    bytes_ += PassAccumulation::memory(width, height);
    entries_.push_back({tab, key, plan, PassAccumulation(width, height)});
    return std::prev(entries_.end());
}

std::optional<AccumulationStore::Claim> AccumulationStore::claim(const std::string &tab, const std::string &key,
                                                                 const PassPlan &plan, int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto usable = [&](const Entry &e) { return !e.busy && !e.whole && e.key == key && leads_to(e, plan); };
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry &e) { return e.tab == tab && usable(e); });
    if (found == entries_.end())
        found = std::find_if(entries_.begin(), entries_.end(), usable);
    if (found == entries_.end()) {
        // A tab renders one look at a time: its older sums give way.
        for (auto e = entries_.begin(); e != entries_.end();) {
            if (e->tab == tab && !e->busy) {
                bytes_ -= PassAccumulation::memory(e->sum.width(), e->sum.height());
                e = entries_.erase(e);
            } else {
                ++e;
            }
        }
        if (!make_room(PassAccumulation::memory(width, height)))
            return std::nullopt;
        found = add_entry(tab, key, plan, width, height);
    }
    found->tab = tab;
    found->plan = plan;
    found->busy = true;
    return Claim(*this, found);
}

std::list<AccumulationStore::Entry>::iterator AccumulationStore::every_pass(const std::string &key,
                                                                            const PassPlan &plan)
{
    // A sum held by a request is being added to: it is not read until let go.
    return std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) {
        if (e.busy || e.key != key)
            return false;
        return e.whole ? e.plan.samples == plan.samples && e.plan.pass_samples == plan.pass_samples
                       : e.sum.passes() == plan.passes() && leads_to(e, plan);
    });
}

std::optional<std::pair<Image, PixelMeaning>> AccumulationStore::finished(const std::string &key,
                                                                         const PassPlan &plan)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = every_pass(key, plan);
    if (found == entries_.end())
        return std::nullopt;
    found->used = ++uses_;
    return std::make_pair(found->sum.mean(), found->meaning);
}

bool AccumulationStore::holds(const std::string &key, const PassPlan &plan)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return every_pass(key, plan) != entries_.end();
}

void AccumulationStore::keep(const std::string &tab, const std::string &key, const PassPlan &plan,
                             const Image &image, PixelMeaning meaning)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!make_room(PassAccumulation::memory(image.width, image.height)))
        return;
    Entry &e = *add_entry(tab, key, plan, image.width, image.height);
    e.sum.add(image, 1);
    e.whole = true;
    e.meaning = meaning;
    e.used = ++uses_;
}
