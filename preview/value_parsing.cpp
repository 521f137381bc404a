#include "preview/value_parsing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

float parse_number(const char *text, char **rest, float) { return std::strtof(text, rest); }
double parse_number(const char *text, char **rest, double) { return std::strtod(text, rest); }

template <typename T>
std::vector<T> parse_numbers(const std::string &text, std::size_t count, const std::string &what)
{
    const auto fault = [&] {
        return std::invalid_argument(what + " must be " + std::to_string(count) +
                                     (count == 1 ? " number" : " comma-separated numbers") +
                                     ", not \"" + text + "\"");
    };
    std::vector<T> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char *rest = nullptr;
        const T value = parse_number(item.c_str(), &rest, T{});
        if (item.empty() || *rest != '\0' || !std::isfinite(value))
            throw fault();
        values.push_back(value);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (values.size() != count)
        throw fault();
    return values;
}

}  // namespace

std::vector<float> parse_floats(const std::string &text, std::size_t count, const std::string &what)
{
    return parse_numbers<float>(text, count, what);
}

std::vector<double> parse_doubles(const std::string &text, std::size_t count, const std::string &what)
{
    return parse_numbers<double>(text, count, what);
}

int parse_int(const std::string &text, const std::string &what)
{
    char *rest = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &rest, 10);
    if (text.empty() || *rest != '\0' || errno == ERANGE || value < -2147483647L - 1 ||
        value > 2147483647L)
        throw std::invalid_argument(what + " must be a whole number, not \"" + text + "\"");
    return static_cast<int>(value);
}

std::string lowercase_extension(const std::string &path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string whole_number_fault(const std::string &text, int low, int high)
{
    errno = 0;
    char *rest = nullptr;
    const long value = std::strtol(text.c_str(), &rest, 10);
    if (text.empty() || *rest != '\0' || errno == ERANGE)
        return "\"" + text + "\" is not a whole number";
    if (value < low || value > high)
        return text + " is not in the range " + std::to_string(low) + " to " + std::to_string(high);
    return {};
}
