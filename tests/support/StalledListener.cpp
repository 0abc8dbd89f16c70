#include "support/StalledListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connects without blocking; true once the handshake completed within a while.
bool ConnectsSoon(int fd, const sockaddr_in& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return true;
    }
    pollfd wait{fd, POLLOUT, 0};
    return ::poll(&wait, 1, 500) == 1 && (wait.revents & POLLOUT) != 0;
}

}  // namespace

StalledListener::StalledListener() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 0) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    m_port = ntohs(address.sin_port);
    // Never accepting, fill the queue until a handshake no longer completes;
    // from then on the kernel drops every further SYN.
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return;
        }
        m_clients.push_back(fd);
        if (!ConnectsSoon(fd, address)) {
            m_ready = true;
            return;
        }
    }
}

StalledListener::~StalledListener() {
    for (const int fd : m_clients) {
        ::close(fd);
    }
    if (m_listener >= 0) {
        ::close(m_listener);
    }
}
