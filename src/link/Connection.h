#pragma once

#include <functional>

#include "app/Socket.h"
#include "link/ReadNotifier.h"

class QObject;

// One accepted cashier connection: its socket, and the notifier that reports
// it readable. Both go with it, the notifier first.
class Connection {
public:
    Connection(Socket socket, QObject& notifierParent, std::function<void()> onReadable);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    SocketHandle Fd() const { return m_socket.Fd(); }

private:
    Socket m_socket;
    ReadNotifier m_notifier;
};
