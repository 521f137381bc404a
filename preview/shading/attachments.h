// Parameters attached to simple built-in shaders, so that the shader's
// attached-parameter path can be seen at work on real geometry.
#ifndef UMBREX_PREVIEW_ATTACHMENTS_H
#define UMBREX_PREVIEW_ATTACHMENTS_H

#include <memory>
#include <string>
#include <vector>

#include "preview/shading/attached_images.h"
#include "preview/shading/environment.h"
#include "preview/shading/parameter_record.h"

struct Attachment {
    const DeclaredParameter *parameter;
    enum class Kind { checker, image } kind;
    float scale = 1.0f;                         // checker: edge of a cell in scene units
    std::vector<float> value;                   // checker: the parameter's own value
    std::shared_ptr<const LatLongImage> image;  // image: looked up along the normal

    // The parameter's value at a shaded point in the scene's own coordinates,
    // with its normal in the environment's frame, written into out (up to
    // four floats).
    void evaluate(DVec3 point, Vec3 normal, float out[4]) const;
};

// Parses name=checker:SCALE (a colour or scalar: a 3D checker between its value
// and its complement) or name=FILE.hdr (a colour: the image along the normal),
// and marks the parameter attached, the image taken from `images`. Throws
// std::invalid_argument, or EnvironmentError for an unreadable image.
Attachment attach_parameter(const std::string &given, ParameterRecord &record, AttachedImages &images);

#endif
