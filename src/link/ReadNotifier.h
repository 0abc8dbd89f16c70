#pragma once

#include <functional>

#include "app/Socket.h"

class QObject;
class QSocketNotifier;

// Calls back on the main thread whenever a descriptor is readable. Its Qt
// notifier may be released from inside its own signal (a connection closed by
// its read handler, a listening socket that failed), so when this goes the
// notifier is switched off, cut from the callback and deleted later; the
// parent, owned by the socket service, frees one still waiting for that when
// it goes itself after the event loop has ended.
class ReadNotifier {
public:
    ReadNotifier(SocketHandle fd, QObject& parent, std::function<void()> onReadable);
    ~ReadNotifier();
    ReadNotifier(const ReadNotifier&) = delete;
    ReadNotifier& operator=(const ReadNotifier&) = delete;

    void SetEnabled(bool enabled);

private:
    QSocketNotifier* m_notifier;  // a child of the parent
};
