#include "preview/page/query_parameters.h"

#include <algorithm>
#include <stdexcept>

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent escapes and '+' for a space, as a form encodes them.
std::string decoded(const std::string &text, const std::string &name)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%') {
            const int high = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
            const int low = high >= 0 ? hex_digit(text[i + 2]) : -1;
            if (low < 0)
                throw std::invalid_argument(name + ": \"" + text.substr(i, 3) + "\" is not a percent escape");
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    if (out.find('\0') != std::string::npos)
        throw std::invalid_argument(name + ": a value holds a NUL byte");
    return out;
}

bool among(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

QueryParameters::QueryParameters(const std::string &target, const std::vector<std::string> &once,
                                 const std::vector<std::string> &repeatable)
{
    const std::size_t question = target.find('?');
    if (question == std::string::npos)
        return;
    const std::string query = target.substr(question + 1);
    for (std::size_t start = 0; start <= query.size();) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string part = query.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        const std::size_t equals = part.find('=');
        const std::string name = decoded(part.substr(0, equals), "a parameter's name");
        const std::string value = equals == std::string::npos ? std::string() : decoded(part.substr(equals + 1), name);
        if (!among(once, name) && !among(repeatable, name))
            throw std::invalid_argument("no parameter \"" + name + "\" here");
        std::vector<std::string> &slot = values_[name];
        if (!slot.empty() && !among(repeatable, name))
            throw std::invalid_argument(name + ": given twice, and it takes one value");
        slot.push_back(value);
    }
}

std::string QueryParameters::value(const std::string &name, const std::string &otherwise) const
{
    const auto found = values_.find(name);
    return found == values_.end() ? otherwise : found->second.front();
}

std::vector<std::string> QueryParameters::values(const std::string &name) const
{
    const auto found = values_.find(name);
    return found == values_.end() ? std::vector<std::string>() : found->second;
}
