#include "preview/shading/parameter_record.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "preview/value_parsing.h"

namespace {

// Bytes of zeros past the declared fields and past their attachment flags.
constexpr std::size_t record_padding = 1024;

std::size_t edit_distance(const std::string &a, const std::string &b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The value text as the parameter's type reads it.
std::vector<double> parse_value(const DeclaredParameter &p, const std::string &text)
{
    const std::string what = "\"" + p.name + "\" (" + type_name(p.type) + ")";
    switch (p.type) {
    case ParameterType::boolean:
        if (text == "on" || text == "true" || text == "1")
            return {1.0};
        if (text == "off" || text == "false" || text == "0")
            return {0.0};
        throw std::invalid_argument(what + " must be on or off, not \"" + text + "\"");
    case ParameterType::integer:
        return {static_cast<double>(parse_int(text, what))};
    case ParameterType::color: {
        const bool has_alpha = std::count(text.begin(), text.end(), ',') == 3;
        const std::vector<float> v = parse_floats(text, has_alpha ? 4 : 3, what);
        return {v[0], v[1], v[2], has_alpha ? v[3] : 1.0};
    }
    case ParameterType::scalar:
    case ParameterType::vector: {
        const std::vector<float> v = parse_floats(text, value_count(p.type), what);
        return std::vector<double>(v.begin(), v.end());
    }
    }
    return {};
}

}  // namespace

ParameterRecord::ParameterRecord(const ShaderDeclaration &declaration)
    : declaration_(declaration),
      ghost_offs_(static_cast<int>((declaration.record_size + record_padding + 15) / 16 * 16)),
      words_(static_cast<std::size_t>(ghost_offs_) / 2, 0u)
{
    for (const DeclaredParameter &p : declaration.parameters) {
        if (!p.default_value.empty())
            write(p, p.default_value);
    }
}

void ParameterRecord::set(const std::string &assignment)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        throw std::invalid_argument("--set takes name=value, not \"" + assignment + "\"");
    const DeclaredParameter &p = parameter(assignment.substr(0, equals));
    write(p, parse_value(p, assignment.substr(equals + 1)));
}

const DeclaredParameter &ParameterRecord::parameter(const std::string &name) const
{
    if (const DeclaredParameter *p = declaration_.find(name))
        return *p;
    const DeclaredParameter *closest = nullptr;
    std::size_t best = name.size() / 2 + 2;
    for (const DeclaredParameter &p : declaration_.parameters) {
        const std::size_t distance = edit_distance(name, p.name);
        if (distance < best) {
            best = distance;
            closest = &p;
        }
    }
    std::string message = "the shader has no parameter \"" + name + "\"";
    if (closest)
        message += " (did you mean \"" + closest->name + "\"?)";
    throw std::invalid_argument(message);
}

std::vector<float> ParameterRecord::value(const DeclaredParameter &p) const
{
    std::vector<float> values;
    for (std::size_t i = 0; i < value_count(p.type); ++i) {
        const std::uint32_t word = words_[p.offset / 4 + i];
        if (p.type == ParameterType::boolean || p.type == ParameterType::integer) {
            std::int32_t v;
            std::memcpy(&v, &word, sizeof v);
            values.push_back(static_cast<float>(v));
        } else {
            float v;
            std::memcpy(&v, &word, sizeof v);
            values.push_back(v);
        }
    }
    return values;
}

void ParameterRecord::mark_attached(const DeclaredParameter &p)
{
    words_[(static_cast<std::size_t>(ghost_offs_) + p.offset) / 4] = 1;
}

void ParameterRecord::write(const DeclaredParameter &p, const std::vector<double> &values)
{
    for (std::size_t i = 0; i < value_count(p.type) && i < values.size(); ++i) {
        std::uint32_t word;
        if (p.type == ParameterType::boolean || p.type == ParameterType::integer) {
            const auto v = static_cast<std::int32_t>(values[i]);
            std::memcpy(&word, &v, sizeof word);
        } else {
            const auto v = static_cast<float>(values[i]);
            std::memcpy(&word, &v, sizeof word);
        }
        words_[p.offset / 4 + i] = word;
    }
}
