#include "preview/scene/scene_framing.h"

#include <algorithm>
#include <cmath>

namespace {

// Bounds as a mesh summary keeps them, empty while low lies above high.
bool empty(const MeshSummary &box)
{
    return box.low.x > box.high.x;
}

void add(MeshSummary &box, const MeshSummary &other)
{
    if (!empty(other)) {
        box.enclose(other.low);
        box.enclose(other.high);
    }
}

double diagonal(const MeshSummary &box)
{
    return empty(box) ? 0.0 : length(box.high - box.low);
}

}  // namespace

double Framing::size() const
{
    return length(to_double(bounds.high) - to_double(bounds.low));
}

Framing frame_scene(const Mesh &mesh, const std::vector<MeshSummary> &meshes)
{
    Framing framing{bounds_of(mesh), {}};
    double total = 0.0;
    for (const MeshSummary &m : meshes)
        total += static_cast<double>(m.triangles) * static_cast<double>(m.placements);
    const auto fair_share = [&](const MeshSummary &m) {
        return static_cast<double>(m.triangles) * static_cast<double>(m.placements) >= 0.01 * total;
    };
    MeshSummary core;
    for (const MeshSummary &m : meshes) {
        if (fair_share(m))
            add(core, m);
    }
    if (empty(core))
        return framing;
    MeshSummary framed = core;
    for (const MeshSummary &m : meshes) {
        if (empty(m) || fair_share(m))
            continue;
        MeshSummary with = core;
        add(with, m);
        if (diagonal(with) > 2.0 * diagonal(core))
            framing.set_aside.push_back(m.name);
        else
            add(framed, m);
    }
    if (!framing.set_aside.empty())
        framing.bounds = {to_float(framed.low - mesh.origin), to_float(framed.high - mesh.origin)};
    return framing;
}

double suited_reach(double scene_size)
{
    const double tenth = scene_size / 10.0;
    if (!(tenth > 0.0) || !std::isfinite(tenth))
        return 0.0;
    const double unit = std::pow(10.0, std::floor(std::log10(tenth)));
    return std::round(tenth / unit) * unit;
}
