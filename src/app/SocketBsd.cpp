#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "app/Socket.h"

Socket Socket::Open(int domain, int type, int protocol) {
    return Socket(::socket(domain, type | SOCK_CLOEXEC, protocol));
}

bool Socket::SetNonBlocking(bool on) const {
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    return ::fcntl(m_fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

// The one place a socket is closed.
void Socket::Close() noexcept {
    if (m_fd < 0) {
        return;
    }
    // Linux releases the descriptor even when close reports EINTR; retrying
    // could close a descriptor that another part of the program just got.
    // errno stays as it was, so a caller can still read why a call failed.
    const int savedErrno = errno;
    ::close(std::exchange(m_fd, -1));
    errno = savedErrno;
}
