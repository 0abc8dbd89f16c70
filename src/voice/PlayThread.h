#pragma once

#include <atomic>
#include <thread>

// The play thread: every 100 ms, while running, starts the play sequence when
// the player is idle. Owned by the main window; Stop() joins it.
class PlayThread {
public:
    PlayThread() = default;
    ~PlayThread();  // Stop()
    PlayThread(const PlayThread&) = delete;
    PlayThread& operator=(const PlayThread&) = delete;

    bool Start();
    void Stop();
    bool Running() const { return m_running.load(); }

private:
    void Run();

    std::atomic<bool> m_running{false};
    std::thread m_thread;
};
