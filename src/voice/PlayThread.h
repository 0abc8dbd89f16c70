#pragma once

#include <atomic>
#include <thread>

class PlayHelper;

// The play thread ("voice-play"): runs the wrapper's play loop, which owns
// the player, the run and the other-audio muting, and sleeps until something
// is posted to it. Owned by the services that run after login; Stop() joins it.
class PlayThread {
public:
    explicit PlayThread(PlayHelper& helper) : m_helper(helper) {}
    ~PlayThread();  // Stop()
    PlayThread(const PlayThread&) = delete;
    PlayThread& operator=(const PlayThread&) = delete;

    bool Start();
    void Stop();
    bool Running() const { return m_running.load(); }

private:
    void Run();

    PlayHelper& m_helper;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
