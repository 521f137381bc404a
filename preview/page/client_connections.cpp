#include "preview/page/client_connections.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <tuple>

namespace {

// The end that getsockname or getpeername gives for the descriptor.
template <typename Ask>
bool end_of(Ask ask, int descriptor, SocketEnd &end)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (ask(descriptor, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return false;
    end = SocketEnd{};
    end.family = address.ss_family;
    if (address.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
        std::memcpy(end.address.data(), &v4.sin_addr, 4);
        end.port = ntohs(v4.sin_port);
        return true;
    }
    if (address.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
        std::memcpy(end.address.data(), &v6.sin6_addr, 16);
        end.port = ntohs(v6.sin6_port);
        return true;
    }
    return false;
}

// Calls visit(descriptor, client's end) for each connected socket of this
// process whose own end is on `port` (and is `local`, when given).
template <typename Visit>
void for_each_connection(int port, const SocketEnd *local, Visit visit)
{
    DIR *folder = opendir("/proc/self/fd");
    if (!folder)
        return;
    const int own = dirfd(folder);
    while (const dirent *entry = readdir(folder)) {
        char *rest = nullptr;
        const long descriptor = std::strtol(entry->d_name, &rest, 10);
        if (rest == entry->d_name || *rest != '\0' || descriptor == own)
            continue;
        SocketEnd here, there;
        if (!end_of(getsockname, static_cast<int>(descriptor), here) || here.port != port ||
            (local && !(here == *local)) || !end_of(getpeername, static_cast<int>(descriptor), there))
            continue;
        visit(static_cast<int>(descriptor), there);
    }
    closedir(folder);
}

// A descriptor of our own for the socket behind `descriptor`, if it still
// joins `port` to `remote`: a descriptor number is reused as soon as it is
// closed, the socket behind a duplicate never changes.
int duplicate(int descriptor, int port, const SocketEnd &remote)
{
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return -1;
    SocketEnd here, there;
    if (end_of(getsockname, copy, here) && here.port == port && end_of(getpeername, copy, there) && there == remote)
        return copy;
    close(copy);
    return -1;
}

// Ends the connection at once: the kernel resets it and drops what either
// side has queued, and every read of it fails from then on. (A shutdown
// would not do: a socket shut for reading still hands over what the client
// goes on sending.)
void cut(int descriptor)
{
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    connect(descriptor, &unspecified, sizeof unspecified);
}

void cut(int descriptor, int port, const SocketEnd &remote)
{
    const int copy = duplicate(descriptor, port, remote);
    if (copy >= 0) {
        cut(copy);
        close(copy);
    }
}

std::uint64_t bytes_received(int descriptor)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    return getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 ? info.tcpi_bytes_received : 0;
}

}  // namespace

bool SocketEnd::operator<(const SocketEnd &other) const
{
    return std::tie(family, address, port) < std::tie(other.family, other.address, other.port);
}

bool SocketEnd::operator==(const SocketEnd &other) const
{
    return family == other.family && address == other.address && port == other.port;
}

SocketEnd socket_end(const std::string &address, int port)
{
    SocketEnd end;
    end.port = port;
    if (inet_pton(AF_INET, address.c_str(), end.address.data()) == 1)
        end.family = AF_INET;
    else if (inet_pton(AF_INET6, address.c_str(), end.address.data()) == 1)
        end.family = AF_INET6;
    return end;
}

ClientSocket::ClientSocket(const SocketEnd &local, const SocketEnd &remote)
{
    for_each_connection(local.port, &local, [&](int descriptor, const SocketEnd &there) {
        if (descriptor_ < 0 && there == remote)
            descriptor_ = duplicate(descriptor, local.port, remote);
    });
}

ClientSocket::~ClientSocket()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

bool ClientSocket::gone() const
{
    if (descriptor_ < 0)
        return false;
    // The client's end closed shows as POLLRDHUP, a broken connection as
    // POLLHUP or POLLERR; a request it sent meanwhile does not count.
    pollfd p{descriptor_, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
}

void ClientSocket::cut() const
{
    if (descriptor_ >= 0)
        ::cut(descriptor_);
}

void ClientSocket::end_after_answer() const
{
    if (descriptor_ < 0)
        return;
    using clock = std::chrono::steady_clock;
    constexpr std::size_t most = std::size_t{4} << 20;
    const auto deadline = clock::now() + std::chrono::seconds(1);
    shutdown(descriptor_, SHUT_WR);
    char dropped[1 << 16];
    for (std::size_t taken = 0; taken < most;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{descriptor_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t n = recv(descriptor_, dropped, sizeof dropped, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
        taken += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ::cut(descriptor_);
}

void ConnectionWatch::request_started(const SocketEnd &remote)
{
    std::lock_guard<std::mutex> lock(mutex_);
    connections_[remote].busy = true;
}

void ConnectionWatch::request_ended(const SocketEnd &remote)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = connections_.find(remote);
    if (found == connections_.end())
        return;
    found->second.busy = false;
    found->second.answered = true;
    found->second.idle_since = std::chrono::steady_clock::now();
}

void ConnectionWatch::sweep()
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t sweep = ++sweeps_;
    const int port = port_;
    for_each_connection(port, nullptr, [&](int descriptor, const SocketEnd &remote) {
        const auto [found, fresh] = connections_.try_emplace(remote);
        Connection &connection = found->second;
        if (fresh)
            connection.idle_since = now;
        connection.sweep = sweep;
        if (connection.busy)
            return;
        const std::uint64_t received = bytes_received(descriptor);
        if (connection.answered) {
            connection.bytes_before = received;
            connection.answered = false;
        }
        const std::uint64_t head = received > connection.bytes_before ? received - connection.bytes_before : 0;
        if (now - connection.idle_since > limits_.head_time || head > limits_.head_bytes)
            cut(descriptor, port, remote);
    });
    // Those not seen have closed.
    for (auto c = connections_.begin(); c != connections_.end();)
        c = c->second.sweep != sweep ? connections_.erase(c) : std::next(c);
}

void ConnectionWatch::cut_all()
{
    const int port = port_;
    for_each_connection(port, nullptr, [&](int descriptor, const SocketEnd &remote) { cut(descriptor, port, remote); });
}
