#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
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
    std::mutex m_mutex;  // lets Stop wake the thread out of its pause at once
    std::condition_variable m_wake;
    std::thread m_thread;
};
