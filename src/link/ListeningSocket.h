#pragma once

#include <functional>
#include <memory>

#include "app/Socket.h"
#include "link/ReadNotifier.h"

class QObject;

// The port the cashier side connects to: a TCP socket bound first (the login
// reserves the port), listening later, with the notifier that reports it ready.
class ListeningSocket {
public:
    enum class BindResult { Bound, CreateFailed, BindFailed };

    ListeningSocket() = default;
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

    // Creates the socket and binds it to the port; not listening yet.
    BindResult Bind(int port);
    // Listens; onReady is called on the main thread whenever a connection
    // waits, or when the socket has failed.
    bool Listen(QObject& notifierParent, std::function<void()> onReady);
    bool IsListening() const { return m_notifier != nullptr; }
    // Stops or resumes the calls to onReady.
    void SetNotifying(bool on);

    // One waiting connection, non-blocking and close-on-exec; an empty socket
    // with the reason in `error` when there is none.
    Socket Accept(int& error);
    // Woken with nothing to accept: true when that was the socket failing.
    bool HasFailed() const;

private:
    Socket m_socket;
    std::unique_ptr<ReadNotifier> m_notifier;
};
