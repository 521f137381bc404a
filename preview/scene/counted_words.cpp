#include "preview/scene/counted_words.h"

std::string plural(std::size_t count, const char *one, const char *many)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits + " " + (count == 1 ? one : many);
}

std::string listed(const std::vector<std::string> &parts)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

void count_in(std::vector<std::string> &parts, std::size_t count, const char *one, const char *many)
{
    if (count > 0)
        parts.push_back(plural(count, one, many));
}

std::string quoted_names(const std::vector<std::string> &names, std::size_t most)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < most; ++i)
        text += (i == 0 ? "\"" : ", \"") + names[i] + "\"";
    return text;
}
