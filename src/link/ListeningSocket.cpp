#include "link/ListeningSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

// The address to listen on: every local IPv4 address, unless the environment
// names one (tests and the demo keep the port on 127.0.0.1 this way).
bool ListenAddress(in_addr& address) {
    const char* configured = std::getenv("VOICE_LISTEN_ADDRESS");
    if (configured == nullptr || *configured == '\0') {
        address.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, configured, &address) == 1;
}

}  // namespace

ListeningSocket::BindResult ListeningSocket::Bind(int port) {
    in_addr address{};
    if (port < 1 || port > 65535 || !ListenAddress(address)) {
        return BindResult::BindFailed;
    }
    Socket socket = Socket::Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (!socket.IsOpen()) {
        return BindResult::CreateFailed;
    }
    // Set before bind: a restart binds over connections left in TIME_WAIT,
    // while a port that another program listens on is still refused.
    const int one = 1;
    ::setsockopt(socket.Fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        return BindResult::BindFailed;
    }
    m_notifier.reset();
    m_socket = std::move(socket);
    return BindResult::Bound;
}

bool ListeningSocket::Listen(QObject& notifierParent, std::function<void()> onReady) {
    if (!m_socket.IsOpen() || ::listen(m_socket.Fd(), SOMAXCONN) != 0) {
        return false;
    }
    // Non-blocking, so that a connection that goes away between the event and
    // the accept cannot block the main thread.
    m_socket.SetNonBlocking(true);
    m_notifier = std::make_unique<ReadNotifier>(m_socket.Fd(), notifierParent, std::move(onReady));
    return true;
}

void ListeningSocket::SetNotifying(bool on) {
    if (m_notifier) {
        m_notifier->SetEnabled(on);
    }
}

Socket ListeningSocket::Accept(int& error) {
    Socket connection(::accept4(m_socket.Fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    error = connection.IsOpen() ? 0 : errno;
    return connection;
}

bool ListeningSocket::HasFailed() const {
    pollfd p{m_socket.Fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}
