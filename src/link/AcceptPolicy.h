#pragma once

#include <QTimer>
#include <functional>

#include "app/Socket.h"

class ListeningSocket;

// How a ready listening socket is served: a burst of accepts at a time, each
// connection handed on; with no descriptor left, the socket's notifier pauses
// briefly instead of the main thread spinning on the same event.
class AcceptPolicy {
public:
    using NewConnection = std::function<void(Socket connection)>;
    enum class Outcome { Served, ListeningFailed };

    // The listening socket must outlive the policy.
    AcceptPolicy(ListeningSocket& listening, NewConnection onConnection);
    AcceptPolicy(const AcceptPolicy&) = delete;
    AcceptPolicy& operator=(const AcceptPolicy&) = delete;

    // Called when the listening socket is ready.
    Outcome OnReady();

private:
    void Pause();

    ListeningSocket& m_listening;
    NewConnection m_onConnection;
    QTimer m_pause;
};
