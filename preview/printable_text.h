// Text from files and from other processes made fit for one line of a
// terminal: control characters written out, length bounded.
#ifndef UMBREX_PREVIEW_PRINTABLE_TEXT_H
#define UMBREX_PREVIEW_PRINTABLE_TEXT_H

#include <cstddef>
#include <string>

// The text with every control character written as an escape: \n, \r, \t,
// and \xHH for the others and DEL. Text without them is returned as it is,
// so escaping twice changes nothing.
std::string printable(const std::string &text);

// At most `limit` bytes of the text, cut at a character boundary and ended
// with "..." where anything was left out.
std::string shortened(const std::string &text, std::size_t limit);

// The first line of a reader's message, or `otherwise` where it is empty.
std::string first_line(const std::string &text, const char *otherwise);

#endif
