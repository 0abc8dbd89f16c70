#include "api/UpdateCheck.h"

#include <pthread.h>

#include <utility>

#include "api/UpdateApi.h"
#include "app/AltSignalStack.h"
#include "app/LogHelper.h"

UpdateCheck::UpdateCheck(Deliver deliver) : m_deliver(std::move(deliver)) {}

UpdateCheck::~UpdateCheck() {
    Stop();
}

bool UpdateCheck::Start(Result result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped || m_thread.joinable()) {
        return false;
    }
    m_thread = std::thread([this, result = std::move(result)] {
        const AltSignalStack signalStack;
        pthread_setname_np(pthread_self(), "voice-update");
        std::string answer;
        bool ok = false;
        try {
            ok = RequestUpdateUrl(answer, &m_abort);
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 UpdateCheck::Run");
        }
        // An aborted request is shutdown's doing: nobody is left to tell.
        if (m_abort.Aborted() || !m_deliver || !result) {
            return;
        }
        m_deliver([result, ok, answer] { result(ok, answer); });
    });
    return true;
}

void UpdateCheck::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_abort.Abort();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}
