#include "link/MessageReader.h"

#include <string_view>

#include "app/LogHelper.h"
#include "app/SocketError.h"
#include "link/LinkSockets.h"

namespace {
// One message is what one receive returns; longer transmissions come as
// several messages of at most this size.
const size_t kMessageMax = 512;
}  // namespace

bool MessageReader::OnSocketRead(SocketHandle fd) {
    char buffer[kMessageMax];
    long received;
    do {
        received = ReceiveSome(fd, buffer, sizeof(buffer));
    } while (received < 0 && IsInterrupted(LastSocketError()));
    if (received < 0 && IsWouldBlock(LastSocketError())) {
        return true;  // woken without data; the connection is fine
    }
    if (received <= 0) {
        LogHelper::GetInstance()->Debug("OnSocketRead调用recv()失败.");
        return false;
    }

    // The reply goes out before parsing so the cashier never waits on
    // composition or a download. A peer that does not read its replies fills
    // its buffer; the send then would block, and such a peer is let go rather
    // than stalling the main thread.
    long sent;
    do {
        sent = SendNow(fd, "OK", 2);
    } while (sent < 0 && IsInterrupted(LastSocketError()));
    if (sent <= 0) {
        LogHelper::GetInstance()->Debug("OnSocketRead调用send()失败.");
        return false;
    }

    try {
        const std::string_view text =
            CashierText(std::string_view(buffer, static_cast<size_t>(received)));
        LogHelper::GetInstance()->Debug(std::string(text));
        const CashierMessage message = CutCashierMessage(text);
        if (message.form != CashierMessage::Form::Ignored && m_onMessage) {
            m_onMessage(message);
        }
    } catch (...) {
        LogHelper::GetInstance()->Error("发生异常 MainFrame::OnSocketRead");
    }
    return true;
}
