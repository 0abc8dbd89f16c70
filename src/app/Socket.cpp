#include "app/Socket.h"

#include <utility>

// The owning part; opening, the blocking mode and the close itself belong to
// the build's socket mechanism (SocketBsd.cpp, SocketWinsock.cpp).

Socket::~Socket() {
    Close();
}

Socket::Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, kNoSocket)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, kNoSocket);
    }
    return *this;
}
