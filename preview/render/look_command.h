// A look in words: the command line that renders it, as the page copies it
// and as images keep it, and the warning its samples call for.
#ifndef UMBREX_PREVIEW_LOOK_COMMAND_H
#define UMBREX_PREVIEW_LOOK_COMMAND_H

#include <string>
#include <vector>

#include "preview/render/preview_session.h"

// The word as a POSIX shell reads it back: as it is when it holds only
// letters, digits and _@%+=:,./-, else in single quotes.
std::string shell_word(const std::string &word);

// The command that renders the look: the program and its scene options
// (`scene_arguments`, as the session was started with them), then the
// look's --set, --attach, --camera, --width, --height, --aa, --seed and
// --pass-samples, the last three where they are not the defaults; its words
// shell-quoted and joined by spaces. The same look gives the same text,
// from the command line as from the page.
std::string look_command(const std::vector<std::string> &scene_arguments, const Look &look);

// What a user rarely means by a sample count, or nothing: a negative count,
// or one above 4096 (with the probe rays it asks for over `points` shaded
// points).
std::string samples_warning(long long samples, double points);

#endif
