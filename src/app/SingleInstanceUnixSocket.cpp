#include "app/SingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The notice a second copy sends; the running copy shows its window.
const char kNotice[] = "1130";
// While the running copy's main thread is busy a few starts wait in the
// queue; later ones find it full and give up at once.
const int kNoticeBacklog = 4;
// The notice follows the connect at once; this only bounds a peer that
// connects and then says nothing, on the main thread.
const int kNoticeWaitMs = 500;

// Reads one connection's notice: the few bytes sent before it closes.
bool ReadNotice(const Socket& connection) {
    std::string received;
    char buffer[16];
    while (received.size() < sizeof(kNotice) - 1) {
        pollfd wait{connection.Fd(), POLLIN, 0};
        if (::poll(&wait, 1, kNoticeWaitMs) <= 0) {
            break;
        }
        const ssize_t got = ::recv(connection.Fd(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    return received.compare(0, sizeof(kNotice) - 1, kNotice) == 0;
}

// An abstract address: no file on disk, and it goes away with its holder.
socklen_t AbstractAddress(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

}  // namespace

SingleInstance::SingleInstance() : m_name("qbnt_Voice") {}

SingleInstance::SingleInstance(std::string name) : m_name(std::move(name)) {}

bool SingleInstance::Acquire() {
    if (m_socket.IsOpen()) {
        return true;
    }
    Socket socket = Socket::Open(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (!socket.IsOpen()) {
        return true;  // cannot tell: better run than refuse to start
    }
    sockaddr_un address;
    const socklen_t length = AbstractAddress(m_name, address);
    if (::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return errno != EADDRINUSE;
    }
    ::listen(socket.Fd(), kNoticeBacklog);
    m_socket = std::move(socket);
    return true;
}

void SingleInstance::NotifyRunning() {
    const Socket socket = Socket::Open(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (!socket.IsOpen()) {
        return;
    }
    sockaddr_un address;
    const socklen_t length = AbstractAddress(m_name, address);
    // Non-blocking throughout: a holder that is still at its login window, or
    // whose queue is full, must not keep this copy from ending.
    if (::connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        ::send(socket.Fd(), kNotice, sizeof(kNotice) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

bool SingleInstance::TakeNotices() {
    bool notified = false;
    if (!m_socket.IsOpen()) {
        return false;
    }
    for (;;) {
        const Socket connection(
            ::accept4(m_socket.Fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!connection.IsOpen()) {
            // EAGAIN: none left; anything else is no start to act on either.
            return notified;
        }
        notified = ReadNotice(connection) || notified;
    }
}
