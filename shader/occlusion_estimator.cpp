#include "shader/occlusion_estimator.h"

#include <cmath>

#include "host/bound_functions.h"

namespace {

enum class Exposure { open, closed, partial };

struct SampleOcclusion {
    Exposure exposure;
    float k;  // occlusion of a partial sample: 1 at falloff_start, 0 at falloff_stop
};

// The probe and the falloff curve, with what every partial sample divides by
// and raises to worked out once per call.
struct FalloffCurve {
    FalloffCurve(const EstimatorSettings &settings, decltype(&mi_trace_probe) probe)
        : probe(probe), start(settings.falloff_start), stop(settings.falloff_stop),
          range(settings.falloff_stop - settings.falloff_start), exponent(1.0f / settings.falloff)
    {
    }
    decltype(&mi_trace_probe) probe;
    float start, stop, range, exponent;
};

// Without tracing every sample is open; the loop is compiled once for each
// setting so that no sample asks again.
template <bool trace>
SampleOcclusion classify_sample(miState *state, miVector &direction, const FalloffCurve &curve)
{
    if (!trace || !curve.probe(state, &direction, &state->point))
        return {Exposure::open, 0.0f};

    const float t = static_cast<float>(state->child->dist);
    if (curve.start >= t)
        return {Exposure::closed, 1.0f};
    if (t >= curve.stop)
        return {Exposure::open, 0.0f};
    // Also reached by a NaN distance, which fails both comparisons.
    const float k = std::pow(1.0f - (t - curve.start) / curve.range, curve.exponent);
    return {Exposure::partial, k};
}

miColor blend(const SampleOcclusion &occlusion, const miColor &bright, const miColor &dark)
{
    switch (occlusion.exposure) {
    case Exposure::open:
        return bright;
    case Exposure::closed:
        return dark;
    case Exposure::partial:
        break;
    }
    const float k = occlusion.k;
    const float keep = 1.0f - k;
    return {bright.r * keep + dark.r * k, bright.g * keep + dark.g * k,
            bright.b * keep + dark.b * k, bright.a * keep + dark.a * k};
}

void add(miColor &sum, const miColor &c)
{
    sum.r += c.r;
    sum.g += c.g;
    sum.b += c.b;
    sum.a += c.a;
}

class ColourSum {
public:
    ColourSum(const EstimatorSettings &settings, const SamplingFunctions &host)
        : settings_(settings), curve_(settings, host.probe)
    {
    }

    template <bool trace>
    void add_sample(miState *state, miVector &direction)
    {
        add(sum_, blend(classify_sample<trace>(state, direction, curve_), settings_.bright,
                        settings_.dark));
    }

    miColor mean(int count) const
    {
        const float n = static_cast<float>(count);
        return {sum_.r / n, sum_.g / n, sum_.b / n, sum_.a / n};
    }

protected:
    const EstimatorSettings &settings_;
    const FalloffCurve curve_;
    miColor sum_ = {0.0f, 0.0f, 0.0f, 0.0f};
};

class EnvironmentSum : public ColourSum {
public:
    EnvironmentSum(const EstimatorSettings &settings, const SamplingFunctions &host)
        : ColourSum(settings, host), look_up_(host.environment)
    {
    }

    template <bool trace>
    void add_sample(miState *state, miVector &direction)
    {
        // The environment first, then the probe. A host that leaves the colour
        // unfilled repeats the previous one, or black for the first sample.
        look_up_(&environment_, state, &direction);
        const miColor c = blend(classify_sample<trace>(state, direction, curve_),
                                settings_.bright, settings_.dark);
        const miColor &e = environment_;
        add(sum_, {c.r * e.r, c.g * e.g, c.b * e.b, c.a * e.a});
    }

private:
    const decltype(&mi_trace_environment) look_up_;
    miColor environment_ = {0.0f, 0.0f, 0.0f, 0.0f};
};

class BentNormalSum {
public:
    BentNormalSum(const EstimatorSettings &settings, const SamplingFunctions &host)
        : settings_(settings), curve_(settings, host.probe)
    {
    }

    template <bool trace>
    void add_sample(miState *state, miVector &d)
    {
        const SampleOcclusion occlusion = classify_sample<trace>(state, d, curve_);
        switch (occlusion.exposure) {
        case Exposure::open:
            direction_.x += d.x;
            direction_.y += d.y;
            direction_.z += d.z;
            weight_ += 1.0f;
            break;
        case Exposure::closed:
            break;
        case Exposure::partial: {
            const float w = 1.0f - occlusion.k;
            direction_.x += d.x * w;
            direction_.y += d.y * w;
            direction_.z += d.z * w;
            weight_ += w;
            break;
        }
        }
    }

    // The normalised open direction with the open fraction in alpha. With no
    // open direction to normalise, the sampling axis stands in for it.
    miColor mean(int count) const
    {
        const miVector &d = direction_;
        const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        const float open_fraction = weight_ / static_cast<float>(count);
        if (length == 0.0f) {
            const miVector &m = settings_.axis;
            return {m.x, m.y, m.z, open_fraction};
        }
        const double l = length;
        return {static_cast<float>(d.x / l), static_cast<float>(d.y / l),
                static_cast<float>(d.z / l), open_fraction};
    }

private:
    const EstimatorSettings &settings_;
    const FalloffCurve curve_;
    miVector direction_ = {0.0f, 0.0f, 0.0f};
    float weight_ = 0.0f;
};

template <typename Sum, bool trace>
void run_sampling_loop(miColor *result, miState *state, const EstimatorSettings &settings,
                       int samples)
{
    const SamplingFunctions host = current_sampling_functions();
    Sum sum(settings, host);
    int counter = 0;
    int count = samples;
    double sample[2] = {0.0, 0.0};
    while (host.sample(sample, &counter, state, 2, &count)) {
        miVector direction = sample_direction(sample, settings.spread);
        sum.template add_sample<trace>(state, direction);
    }
    // A host that delivered no sample leaves nothing to average.
    *result = counter == 0 ? settings.bright : sum.mean(counter);
}

template <typename Sum>
void run_sampling_loop(miColor *result, miState *state, const EstimatorSettings &settings,
                       int samples)
{
    if (settings.trace)
        run_sampling_loop<Sum, true>(result, state, settings, samples);
    else
        run_sampling_loop<Sum, false>(result, state, settings, samples);
}

}  // namespace

void estimate_occlusion(miColor *result, miState *state, OutputMode mode,
                        const EstimatorSettings &settings, int samples)
{
    switch (mode) {
    case OutputMode::colour:
        run_sampling_loop<ColourSum>(result, state, settings, samples);
        break;
    case OutputMode::environment:
        run_sampling_loop<EnvironmentSum>(result, state, settings, samples);
        break;
    case OutputMode::bent_normal:
        run_sampling_loop<BentNormalSum>(result, state, settings, samples);
        break;
    }
}
