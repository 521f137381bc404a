// Counts and names in words, for what a scene file holds or left out:
// "1 point", "22,300 points", "2 lines and 1 camera", "\"wheel\", \"body\"".
#ifndef UMBREX_PREVIEW_COUNTED_WORDS_H
#define UMBREX_PREVIEW_COUNTED_WORDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The count with a comma between thousands, and the word for one or many.
std::string plural(std::size_t count, const char *one, const char *many);

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string> &parts);

// Adds "N things" to a list, where there are any.
void count_in(std::vector<std::string> &parts, std::size_t count, const char *one, const char *many);

// The first `most` names, each in quotes, apart by commas.
std::string quoted_names(const std::vector<std::string> &names, std::size_t most = SIZE_MAX);

#endif
