#include "link/ConnectionTable.h"

#include "app/LogHelper.h"

void ConnectionTable::SetReader(ReadHandler onRead) {
    m_onRead = onRead ? std::make_shared<const ReadHandler>(std::move(onRead)) : nullptr;
}

void ConnectionTable::Add(Socket socket) {
    const SocketHandle fd = socket.Fd();
    m_open.try_emplace(fd, std::move(socket), m_notifierParent, [this, fd] { OnReadable(fd); });
}

void ConnectionTable::OnReadable(SocketHandle fd) {
    if (m_open.find(fd) == m_open.end()) {
        return;  // already closed: the handle may belong to someone else by now
    }
    const std::shared_ptr<const ReadHandler> onRead = m_onRead;
    bool keep = false;
    try {
        keep = onRead && (*onRead)(fd);
    } catch (...) {
        // The reader catches its own failures; this is the last guard of the loop.
        LogHelper::GetInstance()->Error("发生异常 SocketHelper::OnSocketRead");
        keep = false;
    }
    if (!keep) {
        // Safe from inside this connection's own notifier signal: see ReadNotifier.
        m_open.erase(fd);
    }
}
