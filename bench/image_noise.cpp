// Noise and agreement of two renders or baked textures, read from EXR files:
// the first channel of each (the grey of an occlusion picture), taken as an
// 8-bit output would store it (linear, clamped to [0, 1], rounded to 1/255).
//
//   image_noise [--covered] A.exr B.exr
//
// prints one line: the root mean square of the difference over all pixels
// (with --covered, over the pixels whose alpha is above 0 in both, as the
// texels a bake covers), the per-image noise (that over the square root of
// 2, when A and B differ only in their seed), the two means and their
// difference, and how many pixels were compared.

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfRgbaFile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

struct Grey {
    int width = 0, height = 0;
    std::vector<double> values;  // 8-bit levels over 255
    std::vector<bool> covered;   // alpha above 0
};

Grey read_grey(const char *path)
{
    Imf::RgbaInputFile file(path);
    const Imath::Box2i window = file.dataWindow();
    Grey grey;
    grey.width = window.max.x - window.min.x + 1;
    grey.height = window.max.y - window.min.y + 1;
    Imf::Array2D<Imf::Rgba> pixels(grey.height, grey.width);
    file.setFrameBuffer(&pixels[0][0] - window.min.x - window.min.y * grey.width, 1, grey.width);
    file.readPixels(window.min.y, window.max.y);
    grey.values.reserve(static_cast<std::size_t>(grey.width) * grey.height);
    for (int y = 0; y < grey.height; ++y) {
        for (int x = 0; x < grey.width; ++x) {
            const double v = std::clamp(static_cast<double>(static_cast<float>(pixels[y][x].r)), 0.0, 1.0);
            grey.values.push_back(std::round(v * 255.0) / 255.0);
            grey.covered.push_back(static_cast<float>(pixels[y][x].a) > 0.0f);
        }
    }
    return grey;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool covered_only = argc == 4 && std::string(argv[1]) == "--covered";
    if (argc != 3 && !covered_only) {
        std::fprintf(stderr, "usage: image_noise [--covered] A.exr B.exr\n");
        return 2;
    }
    try {
        const Grey a = read_grey(argv[argc - 2]), b = read_grey(argv[argc - 1]);
        if (a.width != b.width || a.height != b.height) {
            std::fprintf(stderr, "image_noise: %s is %dx%d, %s is %dx%d\n", argv[argc - 2], a.width, a.height,
                         argv[argc - 1], b.width, b.height);
            return 1;
        }
        double squares = 0.0, sum_a = 0.0, sum_b = 0.0;
        std::size_t compared = 0;
        for (std::size_t i = 0; i < a.values.size(); ++i) {
            if (covered_only && !(a.covered[i] && b.covered[i]))
                continue;
            ++compared;
            const double d = a.values[i] - b.values[i];
            squares += d * d;
            sum_a += a.values[i];
            sum_b += b.values[i];
        }
        const double n = static_cast<double>(compared);
        const double rmse = std::sqrt(squares / n);
        std::printf("rmse %.5f noise %.5f mean_a %.5f mean_b %.5f mean_difference %.5f pixels %zu\n", rmse,
                    rmse / std::sqrt(2.0), sum_a / n, sum_b / n, (sum_a - sum_b) / n, compared);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "image_noise: %s\n", error.what());
        return 1;
    }
    return 0;
}
