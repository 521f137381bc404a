#include "preview/printable_text.h"

#include <cstdio>

std::string printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        }
    }
    return out;
}

std::string shortened(const std::string &text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit > 3 ? limit - 3 : 0;
    // Not inside a UTF-8 sequence: step back over its continuation bytes.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
        --end;
    return text.substr(0, end) + "...";
}

std::string first_line(const std::string &text, const char *otherwise)
{
    const std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? otherwise : line;
}
