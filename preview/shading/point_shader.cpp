#include "preview/shading/point_shader.h"

PointShader::PointShader(const LoadedShader &shader, const FrameScene &frame, miShaderRecord &shader_record,
                         std::vector<ProbeRay> *probe_log, const std::atomic<bool> *cancel)
    : shader_(shader), frame_(frame), probes_(*frame.tracer)
{
    s_.frame = &frame;
    s_.probes = &probes_;
    s_.probe_log = probe_log;
    s_.cancel = cancel;
    s_.state.child = &s_.child;
    s_.state.shader = &shader_record;
}

miColor PointShader::shade(const SurfacePoint &at, std::uint32_t seed)
{
    const Vec3 &point = at.point;
    const Vec3 &n = at.normals.shading;
    s_.state.type = 0;  // an eye ray
    s_.state.point = {point.x, point.y, point.z};
    s_.state.normal = {n.x, n.y, n.z};
    s_.state.dist = at.distance;
    s_.child = miState{};
    s_.triangle = at.triangle;
    s_.geometric_normal = at.normals.geometric;
    s_.shaded_point = point;
    s_.start_above = offset_from_surface(point, at.normals.geometric);
    s_.start_below = offset_from_surface(point, -at.normals.geometric);
    s_.falloff_start = 0.0;
    s_.falloff_stop = 0.0;
    s_.probe_reach = probe_reach(0.0, 0.0);
    s_.yes_no_probes = false;
    probes_.start_on(at.triangle);
    s_.sample_shift = lattice_shift(seed);

    miColor result = {0.0f, 0.0f, 0.0f, 0.0f};
    shader_.shade(&result, &s_.state, reinterpret_cast<Umbrex_params *>(const_cast<unsigned char *>(frame_.record)));
    return result;
}
