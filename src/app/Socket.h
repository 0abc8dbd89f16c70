#pragma once

#include <cstdint>

// The system's handle of a socket: a descriptor here, an unsigned handle as
// wide as a pointer under Winsock (SOCKET), whose invalid value has every bit set.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Owns one socket descriptor and closes it exactly once: when the holder goes,
// or when another socket is moved into it. Moving leaves the source empty.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle fd) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new socket, close-on-exec so that the updater we spawn never inherits
    // one; empty when the system refuses, with LastSocketError() saying why.
    static Socket Open(int domain, int type, int protocol);

    bool IsOpen() const { return m_fd != kNoSocket; }
    SocketHandle Fd() const { return m_fd; }
    // False when the descriptor's flags cannot be read or changed.
    bool SetNonBlocking(bool on) const;

private:
    void Close() noexcept;

    SocketHandle m_fd = kNoSocket;
};
