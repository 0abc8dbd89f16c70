#include "voice/PlayThread.h"

#include <SDL2/SDL_thread.h>
#include <pthread.h>

#include "app/AltSignalStack.h"
#include "app/LogHelper.h"
#include "voice/PlayHelper.h"

PlayThread::~PlayThread() {
    Stop();
}

bool PlayThread::Start() {
    if (m_thread.joinable()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
        m_pending = false;
    }
    // Hooked before the thread starts, so nothing queued from now on waits
    // for a pass.
    m_helper.SetWakeHook([this] { Wake(); });
    m_thread = std::thread([this] { Run(); });
    return true;
}

void PlayThread::Stop() {
    // Unhooked first: once SetWakeHook returns, no Wake of this object is
    // running or will run.
    if (m_thread.joinable()) {
        m_helper.SetWakeHook(nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PlayThread::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_all();
}

void PlayThread::Run() {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-play");
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_running) {
        // A wake-up that comes during the pass below is kept for the next one.
        m_pending = false;
        lock.unlock();
        try {
            // A run in progress goes on from the player's end callback; this
            // pass only starts one, or goes on after a clip that did not start.
            if (!m_helper.IsBusy()) {
                m_helper.Advance();
            }
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 MainFrame::PlayThreadProc");
        }
        lock.lock();
        m_wake.wait_for(lock, m_pass, [this] { return !m_running.load() || m_pending; });
    }
    lock.unlock();
    // SDL keeps its error text per thread, even for threads it did not start;
    // free this one's before the thread ends so it does not leak.
    SDL_TLSCleanup();
}
