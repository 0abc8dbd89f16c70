#include "link/Connection.h"

#include "link/LinkSockets.h"

namespace {

// Send buffer of a cashier connection. Replies are two bytes each, so this
// holds thousands of them; it also bounds what a peer that never reads its
// replies can pin down, instead of the kernel growing the buffer to megabytes.
const int kReplyBufferBytes = 8192;

// Sized before the notifier exists, so no reply ever goes out before it.
Socket WithReplyBuffer(Socket socket) {
    LimitSendBuffer(socket.Fd(), kReplyBufferBytes);
    return socket;
}

}  // namespace

Connection::Connection(Socket socket, QObject& notifierParent, std::function<void()> onReadable)
    : m_socket(WithReplyBuffer(std::move(socket))),
      m_notifier(m_socket.Fd(), notifierParent, std::move(onReadable)) {}
