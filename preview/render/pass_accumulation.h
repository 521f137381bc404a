// A look's samples rendered in passes and added up: the look-dev page's
// progressive image, and --pass-samples on the command line, which renders
// the same passes in the same order and so the same image, bit for bit.
#ifndef UMBREX_PREVIEW_PASS_ACCUMULATION_H
#define UMBREX_PREVIEW_PASS_ACCUMULATION_H

#include <cstdint>

#include "preview/render/image_output.h"

// How a look's samples split into passes: passes of `pass_samples` each,
// the last one with what is left. A look of one pass (pass_samples 0, or
// not below the samples, or samples below 1) renders as it always has.
struct PassPlan {
    int samples = 0;       // the look's, in all
    int pass_samples = 0;  // 0: one pass

    bool split() const { return pass_samples > 0 && samples > pass_samples; }
    int passes() const { return split() ? static_cast<int>((std::int64_t{samples} + pass_samples - 1) / pass_samples) : 1; }
    // The samples of pass `pass`, counted from 0.
    int samples_of(int pass) const;
    // Samples in the first `passes` passes.
    std::int64_t samples_before(int passes) const;
};

// The passes so far, each weighted by its samples: the mean over every
// sample rendered. One pass is kept as it is.
class PassAccumulation {
public:
    PassAccumulation(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int passes() const { return passes_; }
    std::int64_t samples() const { return samples_; }

    // Adds a pass of that many samples (its weight; one at least).
    void add(const Image &pass, int samples);

    // The mean so far.
    Image mean() const;

    // Bytes a running sum of that size holds.
    static std::uint64_t memory(int width, int height);

private:
    int width_, height_;
    int passes_ = 0;
    std::int64_t samples_ = 0;
    Image first_;                 // the first pass, as it was
    std::vector<miColor> sums_;   // every pass times its weight, once there are two
};

#endif
