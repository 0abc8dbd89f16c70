#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/Socket.h"

class QSocketNotifier;

// The listening port and the cashier connections accepted on it. Every event
// is handled on the main thread through Qt's event loop.
class SocketHelper {
public:
    static SocketHelper* GetInstance();
    // Shutdown: closes whatever is still open and releases the instance.
    static void Destroy();

    // Creates and binds the socket (not listening yet); false with the text to show.
    bool BindPort(int port, std::wstring& error);
    // Called for each read event of a cashier connection; return false to have
    // the connection closed.
    using ReadHandler = std::function<bool(SocketHandle fd)>;
    bool StartListening(ReadHandler onRead);
    // Stops listening and closes every accepted connection.
    void StopListening();

    bool IsListening() const;
    int BoundPort() const;  // 0 without a socket

    SocketHelper(const SocketHelper&) = delete;
    SocketHelper& operator=(const SocketHelper&) = delete;

private:
    // Its one instance is made and released there.
    template <class>
    friend class SingletonSlot;
    SocketHelper();
    ~SocketHelper();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
