// Who may drive the look-dev server: a request that names the server in its
// Host header, comes from the server's own page (as far as the browser's
// fetch metadata and Origin tell), carries the session's token, and is what
// the page sends: GET or HEAD, without a body.
#ifndef UMBREX_PREVIEW_PAGE_ACCESS_H
#define UMBREX_PREVIEW_PAGE_ACCESS_H

#include <httplib.h>

#include <optional>
#include <string>
#include <vector>

#include "preview/page/refusal.h"

// The header in which the page's script hands back the token it was opened with.
constexpr const char *token_header = "X-Umbrex-Token";

struct PageAccess {
    std::vector<std::string> hosts;  // what the Host header may name before the port, in lower case
    int port = 0;
    std::string token;
};

// A new session token: 32 bytes from the kernel's random generator, in hex.
std::string new_session_token();

// The Host header names this server, never another name that resolves here
// (a rebound name); letters in any case. Listening on every address, any
// address literal will do.
bool host_allowed(const std::string &host, const std::vector<std::string> &addresses, int port);

// The request says a body follows it.
bool announces_body(const httplib::Request &request);

// Why the request is turned away, or nothing. The page's own files (its
// first load) need no token; every other route does.
std::optional<Refusal> access_refusal(const PageAccess &access, const httplib::Request &request, bool needs_token);

#endif
