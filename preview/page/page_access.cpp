#include "preview/page/page_access.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace {

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool is_address_literal(std::string text)
{
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    unsigned char parsed[16];
    return inet_pton(AF_INET, text.c_str(), parsed) == 1 || inet_pton(AF_INET6, text.c_str(), parsed) == 1;
}

// Compares in time that does not depend on where the texts first differ.
bool same_token(const std::string &given, const std::string &token)
{
    if (given.size() != token.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

}  // namespace

std::string new_session_token()
{
    unsigned char bytes[32];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("--serve: the kernel gave no random bytes for the session token");
        filled += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : bytes) {
        token += digits[b >> 4];
        token += digits[b & 15];
    }
    return token;
}

bool host_allowed(const std::string &host_header, const std::vector<std::string> &addresses, int port)
{
    const std::string host = lowercase(host_header);
    const std::string suffix = ":" + std::to_string(port);
    // The name without the port; a browser leaves out HTTP's own, 80.
    std::string name;
    if (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
        name = host.substr(0, host.size() - suffix.size());
    else if (port == 80)
        name = host;
    else
        return false;
    const bool wildcard = addresses.size() == 1 && (addresses[0] == "0.0.0.0" || addresses[0] == "::");
    if (wildcard)
        return is_address_literal(name);
    for (const std::string &address : addresses) {
        const bool ipv6 = address.find(':') != std::string::npos;
        if (name == (ipv6 ? "[" + address + "]" : address))
            return true;
    }
    return false;
}

bool announces_body(const httplib::Request &request)
{
    const std::string length = request.get_header_value("Content-Length");
    return request.has_header("Transfer-Encoding") || request.has_header("Content-Encoding") ||
           length.find_first_not_of('0') != std::string::npos;
}

std::optional<Refusal> access_refusal(const PageAccess &access, const httplib::Request &request, bool needs_token)
{
    const std::string host = request.get_header_value("Host");
    if (!host_allowed(host, access.hosts, access.port))
        return Refusal{403, "this page answers only to its own address"};
    // A browser says where a request comes from; another site's page, or a
    // page on another port of this machine (the same site), may not drive it.
    const std::string site = lowercase(request.get_header_value("Sec-Fetch-Site"));
    if (site == "cross-site" || site == "same-site")
        return Refusal{403, "requests from other pages are refused (Sec-Fetch-Site: " + site + ")"};
    if (request.has_header("Origin") && lowercase(request.get_header_value("Origin")) != "http://" + lowercase(host))
        return Refusal{403, "requests from other pages are refused (Origin: " + request.get_header_value("Origin") + ")"};
    // The page sends no bodies: one announced is refused before it is read.
    if (announces_body(request))
        return Refusal{413, "requests to this page carry no body"};
    if (request.method != "GET" && request.method != "HEAD")
        return Refusal{405, "this page takes GET and HEAD only, not " + request.method};
    if (needs_token && !same_token(request.get_header_value(token_header), access.token))
        return Refusal{403, "this request lacks the page's token: open the address umbrex-render printed, with its "
                            "?token="};
    return std::nullopt;
}
