#include "preview/render/look_command.h"

#include <cstdio>

std::string shell_word(const std::string &word)
{
    static const std::string plain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    if (!word.empty() && word.find_first_not_of(plain) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string look_command(const std::vector<std::string> &scene_arguments, const Look &look)
{
    std::vector<std::string> words = scene_arguments;
    for (const std::string &assignment : look.sets)
        words.insert(words.end(), {"--set", assignment});
    for (const std::string &attachment : look.attachments)
        words.insert(words.end(), {"--attach", attachment});
    if (!look.camera.empty())
        words.insert(words.end(), {"--camera", look.camera});
    words.insert(words.end(), {"--width", std::to_string(look.width), "--height", std::to_string(look.height)});
    if (look.camera_rays != 1)
        words.insert(words.end(), {"--aa", std::to_string(look.camera_rays)});
    if (look.seed != 0)
        words.insert(words.end(), {"--seed", std::to_string(look.seed)});
    if (look.pass_samples != 0)
        words.insert(words.end(), {"--pass-samples", std::to_string(look.pass_samples)});
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : " ") + shell_word(word);
    return text;
}

std::string samples_warning(long long samples, double points)
{
    constexpr long long plenty = 4096;
    if (samples < 0)
        return "samples is " + std::to_string(samples) +
               ": the shader asks the sampler for a negative count, gets no sample and returns bright everywhere";
    if (samples <= plenty)
        return {};
    char text[200];
    std::snprintf(text, sizeof text,
                  "samples is %lld: the shader traces that many probe rays at every shaded point, up to %.3g in "
                  "all, which will take a long time (%lld rarely looks any different)",
                  samples, static_cast<double>(samples) * points, plenty);
    return text;
}
