// The look-dev server's progressive images, kept between requests: for each
// tab the passes of its newest look added up so far, so that its next
// request adds a pass, a look whose samples were raised goes on from where
// it was, and a save of a look already rendered is answered at once. Kept
// within a number of images and of bytes, the least recently used dropped
// first.
#ifndef UMBREX_PREVIEW_ACCUMULATION_STORE_H
#define UMBREX_PREVIEW_ACCUMULATION_STORE_H

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "preview/render/image_output.h"
#include "preview/render/pass_accumulation.h"
#include "preview/render/preview_session.h"

// What identifies a look's image apart from its samples: every other value
// of the look, as the request gave it.
std::string accumulation_key(const Look &look);

class AccumulationStore {
    struct Entry {
        std::string tab, key;
        PassPlan plan;  // of the look it was last taken for
        PassAccumulation sum;
        PixelMeaning meaning = PixelMeaning::colour;
        bool whole = false;  // one image of every pass, rendered at once: it does not go on
        bool busy = false;
        std::uint64_t used = 0;
    };

public:
    struct Limits {
        std::size_t images = 8;
        std::uint64_t bytes = std::uint64_t{1} << 30;
    };
    explicit AccumulationStore(Limits limits) : limits_(limits) {}

    // The passes of one look, held for one request at a time.
    class Claim {
    public:
        Claim(AccumulationStore &store, std::list<Entry>::iterator entry) : store_(&store), entry_(entry) {}
        Claim(Claim &&other) noexcept : store_(other.store_), entry_(other.entry_) { other.store_ = nullptr; }
        Claim(const Claim &) = delete;
        Claim &operator=(const Claim &) = delete;
        ~Claim();

        // Passes added so far; the next pass to render is this one.
        int passes() const { return entry_->sum.passes(); }
        void add(const Image &pass, int samples, PixelMeaning meaning);
        Image mean() const { return entry_->sum.mean(); }
        PixelMeaning meaning() const { return entry_->meaning; }

    private:
        AccumulationStore *store_;
        std::list<Entry>::iterator entry_;
    };

    // The passes of the look to add the next one to: the tab's own where
    // they are the first passes of `plan`, else another tab's that are, else
    // a new sum (the tab's older ones dropped). Nothing where a sum of that
    // size cannot be kept.
    std::optional<Claim> claim(const std::string &tab, const std::string &key, const PassPlan &plan, int width,
                               int height);

    // Whether a sum of that size fits in the store at all.
    bool can_keep(int width, int height) const { return PassAccumulation::memory(width, height) <= limits_.bytes; }

    // The image of every pass of `plan`, where one is kept, and its meaning.
    std::optional<std::pair<Image, PixelMeaning>> finished(const std::string &key, const PassPlan &plan);
    // Whether such an image is kept.
    bool holds(const std::string &key, const PassPlan &plan);

    // Keeps an image of every pass of `plan`, rendered at once for the tab.
    void keep(const std::string &tab, const std::string &key, const PassPlan &plan, const Image &image,
              PixelMeaning meaning);

private:
    // The passes `entry` holds are the first passes of `plan`.
    static bool leads_to(const Entry &entry, const PassPlan &plan);
    // The entry that holds every pass of `plan`, or the end.
    std::list<Entry>::iterator every_pass(const std::string &key, const PassPlan &plan);
    // Makes room for `bytes` more, dropping the least recently used images
    // that no request holds; false where that is not enough.
    bool make_room(std::uint64_t bytes);
    std::list<Entry>::iterator add_entry(const std::string &tab, const std::string &key, const PassPlan &plan,
                                         int width, int height);

    const Limits limits_;
    std::mutex mutex_;
    std::list<Entry> entries_;
    std::uint64_t bytes_ = 0;
    std::uint64_t uses_ = 0;
};

#endif
