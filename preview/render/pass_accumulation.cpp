#include "preview/render/pass_accumulation.h"

#include <algorithm>

int PassPlan::samples_of(int pass) const
{
    if (!split())
        return samples;
    return static_cast<int>(std::min<std::int64_t>(pass_samples, samples - std::int64_t{pass} * pass_samples));
}

std::int64_t PassPlan::samples_before(int passes) const
{
    if (!split())
        return passes > 0 ? samples : 0;
    return std::min<std::int64_t>(samples, std::int64_t{passes} * pass_samples);
}

PassAccumulation::PassAccumulation(int width, int height) : width_(width), height_(height) {}

std::uint64_t PassAccumulation::memory(int width, int height)
{
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * sizeof(miColor);
}

void PassAccumulation::add(const Image &pass, int samples)
{
    const float weight = static_cast<float>(std::max(samples, 1));
    if (passes_ == 0) {
        first_ = pass;
    } else {
        if (passes_ == 1) {
            sums_.resize(first_.pixels.size());
            const float first_weight = static_cast<float>(std::max<std::int64_t>(samples_, 1));
            for (std::size_t i = 0; i < sums_.size(); ++i) {
                const miColor &c = first_.pixels[i];
                sums_[i] = {c.r * first_weight, c.g * first_weight, c.b * first_weight, c.a * first_weight};
            }
            first_.pixels = {};
        }
        for (std::size_t i = 0; i < sums_.size(); ++i) {
            const miColor &c = pass.pixels[i];
            miColor &s = sums_[i];
            s = {s.r + c.r * weight, s.g + c.g * weight, s.b + c.b * weight, s.a + c.a * weight};
        }
    }
    ++passes_;
    samples_ += std::max(samples, 1);
}

Image PassAccumulation::mean() const
{
    if (passes_ <= 1)
        return first_;
    Image image;
    image.width = width_;
    image.height = height_;
    image.pixels.resize(sums_.size());
    const float total = static_cast<float>(samples_);
    for (std::size_t i = 0; i < sums_.size(); ++i) {
        const miColor &s = sums_[i];
        image.pixels[i] = {s.r / total, s.g / total, s.b / total, s.a / total};
    }
    return image;
}
