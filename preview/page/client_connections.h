// The look-dev server's client connections, as sockets. This cpp-httplib
// tells a handler neither its socket nor whether its client has gone, and
// puts no limit on the time or the bytes of a request's head; so the sockets
// are found here among the process's descriptors, by their two ends, and
// watched from outside.
#ifndef UMBREX_PREVIEW_CLIENT_CONNECTIONS_H
#define UMBREX_PREVIEW_CLIENT_CONNECTIONS_H

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// One end of a connection: an IPv4 or IPv6 address and a port.
struct SocketEnd {
    int family = 0;
    std::array<unsigned char, 16> address{};
    int port = 0;
    bool operator<(const SocketEnd &other) const;
    bool operator==(const SocketEnd &other) const;
};

// The end an address written as numbers and a port name; family 0 if the
// text is no address.
SocketEnd socket_end(const std::string &address, int port);

// One client's connection, held through a duplicate of its descriptor: it
// stays this socket whatever becomes of the server's own descriptor.
class ClientSocket {
public:
    ClientSocket(const SocketEnd &local, const SocketEnd &remote);
    ClientSocket(const ClientSocket &) = delete;
    ClientSocket &operator=(const ClientSocket &) = delete;
    ~ClientSocket();

    // The client has closed its end, or the connection broke.
    bool gone() const;
    // Ends the connection at once: what the client has sent and sends on is
    // dropped unread. An answer already written still reaches the client.
    void cut() const;
    // Ends the connection after its answer: nothing more is sent, and what
    // the client goes on sending (a refused body) is read and dropped for at
    // most a second or 4 MiB, so that a client busy sending it is not reset
    // before it reads the answer; then the connection is cut.
    void end_after_answer() const;

private:
    int descriptor_ = -1;  // -1 when no such connection was found
};

// Every connection to the server's port. One that holds a worker with no
// request in hand for longer than a head may take, or has sent more bytes
// than a head may have (a head trickled in byte by byte, or one without
// end), is cut, as they all are at once when the server stops.
class ConnectionWatch {
public:
    struct Limits {
        std::chrono::milliseconds head_time;  // from the connection's start or its last answer
        std::uint64_t head_bytes;
    };

    // `port` is read at every sweep: it is known once the server is bound.
    ConnectionWatch(const int &port, Limits limits) : port_(port), limits_(limits) {}

    // A request has been read from the client at `remote`, and is answered.
    void request_started(const SocketEnd &remote);
    void request_ended(const SocketEnd &remote);

    // Cuts the connections over their limits; called every few tens of
    // milliseconds.
    void sweep();
    // Cuts every connection, waking the workers that wait on them.
    void cut_all();

private:
    struct Connection {
        std::chrono::steady_clock::time_point idle_since;
        std::uint64_t bytes_before = 0;  // received by the end of its last answer
        bool busy = false;
        bool answered = false;  // since the last sweep
        std::uint64_t sweep = 0;  // the last that saw it
    };

    const int &port_;
    const Limits limits_;
    std::mutex mutex_;
    std::map<SocketEnd, Connection> connections_;  // by the client's end
    std::uint64_t sweeps_ = 0;
};

#endif
