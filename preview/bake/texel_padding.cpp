#include "preview/bake/texel_padding.h"

#include <cstddef>

namespace {

bool fills(TexelState s)
{
    return s == TexelState::baked || s == TexelState::padded;
}

}  // namespace

void pad_texels(Image &image, std::vector<TexelState> &states, int rings)
{
    const int w = image.width, h = image.height;
    const auto at = [w](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + x; };
    // Calls visit(x, y) for each of the texel's neighbours within the image.
    const auto each_neighbour = [w, h](std::size_t i, auto &&visit) {
        const auto row = static_cast<std::size_t>(w);
        const int x = static_cast<int>(i % row), y = static_cast<int>(i / row);
        for (int ny = y - 1; ny <= y + 1; ++ny) {
            for (int nx = x - 1; nx <= x + 1; ++nx) {
                if ((nx != x || ny != y) && nx >= 0 && ny >= 0 && nx < w && ny < h)
                    visit(nx, ny);
            }
        }
    };
    // The next ring: empty texels beside those given, each once.
    std::vector<std::uint8_t> queued(states.size(), 0);
    const auto ring_beside = [&](const std::vector<std::size_t> &texels) {
        std::vector<std::size_t> ring;
        for (const std::size_t i : texels) {
            each_neighbour(i, [&](int x, int y) {
                const std::size_t n = at(x, y);
                if (states[n] == TexelState::empty && !queued[n]) {
                    queued[n] = 1;
                    ring.push_back(n);
                }
            });
        }
        return ring;
    };

    std::vector<std::size_t> baked;
    for (std::size_t i = 0; i < states.size(); ++i) {
        if (states[i] == TexelState::baked)
            baked.push_back(i);
    }
    std::vector<std::size_t> ring = ring_beside(baked);
    std::vector<miColor> values;
    for (int r = 0; r < rings && !ring.empty(); ++r) {
        values.clear();
        for (const std::size_t i : ring) {
            miColor sum = {0.0f, 0.0f, 0.0f, 0.0f};
            int count = 0;
            each_neighbour(i, [&](int x, int y) {
                const std::size_t n = at(x, y);
                if (!fills(states[n]))
                    return;
                const miColor &c = image.pixels[n];
                sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b, sum.a + c.a};
                ++count;
            });
            const float k = 1.0f / static_cast<float>(count);
            values.push_back({sum.r * k, sum.g * k, sum.b * k, sum.a * k});
        }
        for (std::size_t j = 0; j < ring.size(); ++j) {
            image.pixels[ring[j]] = values[j];
            states[ring[j]] = TexelState::padded;
        }
        ring = ring_beside(ring);
    }
}
