#pragma once

#include <functional>

#include "app/Socket.h"
#include "link/CashierMessage.h"

// Reads one cashier message from a connection, answers "OK" before anything
// else, cuts it and hands it on; what becomes of it is the owner's business.
class MessageReader {
public:
    // Receives each message that has a usable shape, on the reading thread.
    using Handler = std::function<void(const CashierMessage&)>;

    explicit MessageReader(Handler onMessage) : m_onMessage(std::move(onMessage)) {}
    // False when the connection must be closed (peer gone, reply failed).
    bool OnSocketRead(SocketHandle fd);

private:
    Handler m_onMessage;
};
