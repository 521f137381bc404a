// Which of a scene's meshes --hide and --only leave out.

#include "preview/scene/mesh.h"

bool matches_pattern(const std::string &pattern, const std::string &name)
{
    // `*` matches any run; on a mismatch the last `*` takes one more character.
    std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

// Whether any pattern matches any name, marking each pattern that does.
bool any_match(const std::vector<std::string> &patterns, std::vector<bool> &matched,
               const std::vector<std::string> &names)
{
    matched.resize(patterns.size());
    bool found = false;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        for (const std::string &name : names) {
            if (matches_pattern(patterns[i], name)) {
                matched[i] = true;
                found = true;
                break;
            }
        }
    }
    return found;
}

}  // namespace

bool MeshChoice::shows(const std::vector<std::string> &names) const
{
    const bool chosen = only.empty() || any_match(only, only_matched_, names);
    const bool hidden = any_match(hide, hide_matched_, names);
    return chosen && !hidden;
}

std::vector<std::string> MeshChoice::unmatched() const
{
    std::vector<std::string> warnings;
    const std::pair<const char *, const std::vector<std::string> *> options[] = {{"--only", &only}, {"--hide", &hide}};
    for (const auto &[option, patterns] : options) {
        const std::vector<bool> &matched = patterns == &only ? only_matched_ : hide_matched_;
        for (std::size_t i = 0; i < patterns->size(); ++i) {
            if (i >= matched.size() || !matched[i])
                warnings.push_back(std::string(option) + " \"" + (*patterns)[i] + "\" matches no mesh or node");
        }
    }
    return warnings;
}
