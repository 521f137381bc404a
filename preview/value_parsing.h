// Numbers in option values: comma-separated, finite, whole where asked.
#ifndef UMBREX_PREVIEW_VALUE_PARSING_H
#define UMBREX_PREVIEW_VALUE_PARSING_H

#include <string>
#include <vector>

// Exactly `count` comma-separated finite numbers; throws std::invalid_argument
// naming `what` otherwise.
std::vector<float> parse_floats(const std::string &text, std::size_t count, const std::string &what);

// The same in double precision, for coordinates.
std::vector<double> parse_doubles(const std::string &text, std::size_t count, const std::string &what);

// A file name's extension in lower case, with its dot: ".png".
std::string lowercase_extension(const std::string &path);

// One whole number that fits 32 bits.
int parse_int(const std::string &text, const std::string &what);

// What is wrong with the text as a whole number from low to high, or nothing:
// "\"abc\" is not a whole number", "0 is not in the range 1 to 16384".
std::string whole_number_fault(const std::string &text, int low, int high);

#endif
