#include "preview/shading/attachments.h"

#include <cmath>
#include <stdexcept>

#include "preview/value_parsing.h"

namespace {

// Whether the cell that holds the coordinate has an odd index. Cells beyond
// what a double counts exactly (a tiny cell far out) all count as even.
bool odd_cell(double coordinate, double scale)
{
    const double cell = std::floor(coordinate / scale);
    return std::isfinite(cell) && std::abs(std::fmod(cell, 2.0)) == 1.0;
}

}  // namespace

void Attachment::evaluate(DVec3 point, Vec3 normal, float out[4]) const
{
    if (kind == Kind::image) {
        const miColor c = image->lookup(normal);
        out[0] = c.r;
        out[1] = c.g;
        out[2] = c.b;
        out[3] = c.a;
        return;
    }
    const bool odd = (odd_cell(point.x, scale) != odd_cell(point.y, scale)) != odd_cell(point.z, scale);
    for (std::size_t i = 0; i < value.size(); ++i) {
        // A colour's complement keeps its alpha.
        const bool alpha = parameter->type == ParameterType::color && i == 3;
        out[i] = odd && !alpha ? 1.0f - value[i] : value[i];
    }
}

Attachment attach_parameter(const std::string &given, ParameterRecord &record, AttachedImages &images)
{
    const std::size_t equals = given.find('=');
    if (equals == std::string::npos)
        throw std::invalid_argument("--attach takes name=checker:SCALE or name=FILE.hdr, not \"" +
                                    given + "\"");
    const DeclaredParameter &p = record.parameter(given.substr(0, equals));
    const std::string source = given.substr(equals + 1);
    Attachment attachment{&p, Attachment::Kind::checker, 1.0f, record.value(p), nullptr};

    if (source.rfind("checker:", 0) == 0) {
        if (p.type != ParameterType::color && p.type != ParameterType::scalar)
            throw std::invalid_argument("a checker attaches to a color or scalar parameter, and \"" +
                                        p.name + "\" is " + type_name(p.type));
        attachment.scale = parse_floats(source.substr(8), 1, "the checker scale")[0];
        if (!(attachment.scale > 0.0f))
            throw std::invalid_argument("the checker scale must be greater than 0");
    } else {
        if (p.type != ParameterType::color)
            throw std::invalid_argument("an image attaches to a color parameter, and \"" + p.name +
                                        "\" is " + type_name(p.type));
        attachment.kind = Attachment::Kind::image;
        attachment.image = images.read(source);
    }
    record.mark_attached(p);
    return attachment;
}
