#include <windows.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>  // the header's notifier, unused here, is still destroyed
#include <functional>
#include <mutex>

#include "app/QuitSignals.h"

namespace {

// What the handler calls: posts a drain to the main loop. Cleared, under the
// lock, before the instance goes, so the handler never posts to one that is gone.
std::mutex s_mutex;
std::function<void()> s_post;
// Which instance a posted drain is for; read and written on the main thread
// only, so a drain still queued when its instance has gone does nothing.
unsigned long long s_liveGeneration = 0;
unsigned long long s_lastGeneration = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        if (!s_post) {
            return FALSE;  // mid-shutdown, or not ours: the system's default
        }
        s_post();
    }
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return TRUE;
        default:
            // The console's window closed, log-off or shutdown: the process is
            // ended once this returns, so it never does; the program's own
            // exit ends this thread with the rest, settings saved.
            for (;;) {
                ::Sleep(INFINITE);
            }
    }
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit) : m_onQuit(std::move(onQuit)) {
    const unsigned long long generation = ++s_lastGeneration;
    s_liveGeneration = generation;
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        // Queued to the application object, which lives on the main thread.
        s_post = [this, generation] {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [this, generation] {
                    if (s_liveGeneration == generation) {
                        Drain();
                    }
                },
                Qt::QueuedConnection);
        };
    }
    if (::SetConsoleCtrlHandler(OnConsoleControl, TRUE) == FALSE) {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_post = nullptr;
        return;
    }
    m_installed = true;
}

QuitSignals::~QuitSignals() {
    s_liveGeneration = 0;
    if (!Installed()) {
        return;
    }
    // Events from here on get the system's default handling.
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    std::lock_guard<std::mutex> lock(s_mutex);
    s_post = nullptr;
}

void QuitSignals::Drain() {
    if (m_onQuit) {
        m_onQuit();
    }
}
