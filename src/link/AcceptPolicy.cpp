#include "link/AcceptPolicy.h"

#include "app/LogHelper.h"
#include "app/SocketError.h"
#include "link/ListeningSocket.h"

namespace {

// Connections taken per accept event before the loop gets its turn again.
const int kAcceptBurst = 64;
// Pause of the accept notifier while no descriptor is left for a connection,
// so that a full table does not make the main thread spin on the same event.
const int kAcceptPauseMs = 100;

}  // namespace

AcceptPolicy::AcceptPolicy(ListeningSocket& listening, NewConnection onConnection)
    : m_listening(listening), m_onConnection(std::move(onConnection)) {
    m_pause.setSingleShot(true);
    QObject::connect(&m_pause, &QTimer::timeout, [this] { m_listening.SetNotifying(true); });
}

AcceptPolicy::Outcome AcceptPolicy::OnReady() {
    for (int i = 0; i < kAcceptBurst; ++i) {
        int err = 0;
        Socket connection = m_listening.Accept(err);
        if (connection.IsOpen()) {
            m_onConnection(std::move(connection));
            continue;
        }
        if (IsInterrupted(err)) {
            continue;
        }
        if (IsWouldBlock(err)) {
            // Nothing pending. A woken socket with nothing to accept may be one
            // that has failed; an error there would otherwise go unnoticed.
            return i == 0 && m_listening.HasFailed() ? Outcome::ListeningFailed : Outcome::Served;
        }
        LogHelper::GetInstance()->Debug("LISTEN SOCKET调用Accept()失败.");
        if (IsOutOfDescriptors(err)) {
            Pause();
            return Outcome::Served;
        }
        if (!IsTransientAcceptError(err)) {
            return Outcome::ListeningFailed;
        }
    }
    return Outcome::Served;
}

void AcceptPolicy::Pause() {
    m_listening.SetNotifying(false);
    m_pause.start(kAcceptPauseMs);
}
