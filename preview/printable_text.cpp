#include "preview/printable_text.h"

#include <cstdio>

std::string printable(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        // The controls of UTF-8's second block (C2 80 to C2 9F) steer a
        // terminal as the first block's do.
        const bool c1_control = byte == 0xc2 && i + 1 < text.size() &&
                                static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                                static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (c1_control) {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\xc2\\x%02x", static_cast<unsigned char>(text[++i]));
            out += escape;
        } else if (byte >= 0x20 && byte != 0x7f) {
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
