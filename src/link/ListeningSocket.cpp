#include "link/ListeningSocket.h"

#include <cstdint>
#include <cstdlib>

#include "link/LinkSockets.h"

namespace {

// The address to listen on: every local IPv4 address, unless the environment
// names one (tests and the demo keep the port on 127.0.0.1 this way).
bool ListenAddress(std::uint32_t& address) {
    const char* configured = std::getenv("VOICE_LISTEN_ADDRESS");
    if (configured == nullptr || *configured == '\0') {
        address = AnyIpv4();
        return true;
    }
    return ParseIpv4(configured, address);
}

}  // namespace

ListeningSocket::BindResult ListeningSocket::Bind(int port) {
    std::uint32_t address = 0;
    if (port < 1 || port > 65535 || !ListenAddress(address)) {
        return BindResult::BindFailed;
    }
    Socket socket = OpenTcpSocket();
    if (!socket.IsOpen()) {
        return BindResult::CreateFailed;
    }
    if (!BindTcp(socket, address, port)) {
        return BindResult::BindFailed;
    }
    m_notifier.reset();
    m_socket = std::move(socket);
    return BindResult::Bound;
}

bool ListeningSocket::Listen(QObject& notifierParent, std::function<void()> onReady) {
    if (!m_socket.IsOpen() || !ListenTcp(m_socket)) {
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
    return AcceptNonBlocking(m_socket, error);
}

bool ListeningSocket::HasFailed() const {
    return HasSocketFailed(m_socket.Fd());
}
