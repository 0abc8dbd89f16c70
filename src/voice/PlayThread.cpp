#include "voice/PlayThread.h"

#include <SDL2/SDL_thread.h>
#include <pthread.h>

#include "app/AltSignalStack.h"
#include "voice/PlayHelper.h"

PlayThread::~PlayThread() {
    Stop();
}

bool PlayThread::Start() {
    if (m_thread.joinable()) {
        return false;
    }
    // Armed before the thread starts, so a Stop right after Start is not lost.
    m_helper.PlayLoopStarting();
    m_running = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void PlayThread::Stop() {
    if (m_thread.joinable()) {
        m_helper.QuitPlayLoop();
        m_thread.join();
    }
    m_running = false;
}

void PlayThread::Run() {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-play");
    m_helper.RunPlayLoop();
    // SDL keeps its error text per thread, even for threads it did not start;
    // free this one's before the thread ends so it does not leak.
    SDL_TLSCleanup();
}
