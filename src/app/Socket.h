#pragma once

// Owns one socket descriptor and closes it exactly once: when the holder goes,
// or when another socket is moved into it. Moving leaves the source empty.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new socket, close-on-exec so that the updater we spawn never inherits
    // one; empty when the system refuses, with errno saying why.
    static Socket Open(int domain, int type, int protocol);

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // False when the descriptor's flags cannot be read or changed.
    bool SetNonBlocking(bool on) const;

private:
    void Close() noexcept;

    int m_fd = -1;
};
