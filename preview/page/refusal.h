// An answer that turns a request away: its HTTP status and one line saying why.
#ifndef UMBREX_PREVIEW_REFUSAL_H
#define UMBREX_PREVIEW_REFUSAL_H

#include <string>

struct Refusal {
    int status;
    std::string message;
};

#endif
