// umbrex-render's renderer in-process, with its host functions: yes/no
// probes answered by occlusion queries against the nearest-hit queries of a
// host that does not tell them apart.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "preview/render/renderer.h"
#include "preview/shading/parameter_record.h"
#include "preview/shading/shader_declaration.h"

namespace {

struct Frame {
    Image image;
    std::size_t yes_no = 0, nearest = 0;  // probes of each kind
};

Frame render(const RayTracer &tracer, const std::vector<std::string> &look, bool nearest_hit_probes)
{
    static const ShaderDeclaration declaration = read_shader_declaration(UMBREX_DECLARATION);
    static const LoadedShader shader = load_shader(UMBREX_LIBRARY, declaration);
    ParameterRecord record(declaration);
    std::vector<Attachment> attachments;
    AttachedImages images;
    for (const std::string &assignment : look) {
        if (assignment.rfind("attach ", 0) == 0)
            attachments.push_back(attach_parameter(assignment.substr(7), record, images));
        else
            record.set(assignment);
    }
    const Environment environment = Environment::sky();
    FrameScene frame = make_frame_scene(tracer, environment, record, attachments, UpAxis::y);
    frame.nearest_hit_probes = nearest_hit_probes;
    miShaderRecord shader_record{record.ghost_offs()};
    RenderSettings settings;
    settings.width = 64;
    settings.height = 36;
    settings.threads = 2;
    std::vector<std::vector<ProbeRay>> logs;
    settings.probe_logs = &logs;
    FrameStatistics statistics;
    Frame result;
    result.image = render_frame(shader, frame, shader_record, default_scene_camera(), settings, statistics);
    for (const auto &log : logs) {
        for (const ProbeRay &probe : log)
            ++(probe.yes_no ? result.yes_no : result.nearest);
    }
    return result;
}

bool same_pixels(const Image &a, const Image &b)
{
    return a.pixels.size() == b.pixels.size() &&
           std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(miColor)) == 0;
}

// With a stop at or below the start, a probe's answer is yes or no, and the
// host asks Embree only whether a hit lies within the start. Every sample
// comes out as the nearest hit would have it: the frames are the same bit
// for bit, in each mode, with the start attached to a checker (a cut-off on
// some cells, a falloff on the others), and in the default look's falloff,
// whose probes stay nearest-hit queries; and the probes do meet the scene.
TEST(ProbeQueries, YesNoProbesGiveTheNearestHitsPictures)
{
    const Mesh scene = make_default_scene();
    const RayTracer tracer(scene);
    const struct {
        std::vector<std::string> look;
        bool yes_no, nearest;  // which kinds of probe it traces
    } cases[] = {
        {{"falloff_start=1", "falloff_stop=1"}, true, false},
        {{"falloff_start=1.5", "falloff_stop=0.5", "environment=on"}, true, false},
        {{"falloff_start=0.7", "falloff_stop=0.7", "bent_normals=on"}, true, false},
        {{"falloff_start=0.8", "falloff_stop=0.5", "attach falloff_start=checker:0.3"}, true, true},
        {{}, false, true},
    };
    for (const auto &c : cases) {
        const std::string look = ::testing::PrintToString(c.look);
        std::vector<std::string> untraced = c.look;
        untraced.push_back("trace=off");
        const Frame yes_no = render(tracer, c.look, false), nearest = render(tracer, c.look, true);
        EXPECT_TRUE(same_pixels(yes_no.image, nearest.image)) << look;
        EXPECT_FALSE(same_pixels(yes_no.image, render(tracer, untraced, false).image)) << look;
        EXPECT_EQ(yes_no.yes_no > 0, c.yes_no) << look;
        EXPECT_EQ(yes_no.nearest > 0, c.nearest) << look;
        EXPECT_EQ(nearest.yes_no, 0u) << look;
        EXPECT_EQ(nearest.nearest, yes_no.yes_no + yes_no.nearest) << look;
    }
}

}  // namespace
