#pragma once

#include <functional>
#include <map>
#include <memory>

#include "app/Socket.h"
#include "link/Connection.h"

class QObject;

// Every open cashier connection, by descriptor, and the read handler they are
// served with. A connection is closed when its handler says so, or by CloseAll.
class ConnectionTable {
public:
    // Return false to have the connection closed.
    using ReadHandler = std::function<bool(SocketHandle fd)>;

    // The parent takes the connections' notifiers (see ReadNotifier).
    explicit ConnectionTable(QObject& notifierParent) : m_notifierParent(notifierParent) {}
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;

    void SetReader(ReadHandler onRead);
    bool HasReader() const { return m_onRead != nullptr; }
    void Add(Socket socket);
    void CloseAll() { m_open.clear(); }

private:
    void OnReadable(SocketHandle fd);

    QObject& m_notifierParent;
    // Shared, so that a handler that replaces or clears itself (StopListening
    // from inside it) is not destroyed while it runs.
    std::shared_ptr<const ReadHandler> m_onRead;
    std::map<SocketHandle, Connection> m_open;
};
