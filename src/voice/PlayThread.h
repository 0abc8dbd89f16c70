#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class PlayHelper;

// The play thread: starts the play sequence when the player is idle. The
// wrapper wakes it as soon as there is something to do (an announcement was
// queued, the player went idle); the pass every 100 ms stays as the safety
// net, so nothing depends on a wake-up arriving. Owned by the services that
// run after login; Stop() joins it.
class PlayThread {
public:
    static constexpr std::chrono::milliseconds kPass{100};

    // `pass` is the time between two passes without a wake-up; tests make it
    // long to see that the wake-up alone starts what is queued.
    explicit PlayThread(PlayHelper& helper, std::chrono::milliseconds pass = kPass)
        : m_helper(helper), m_pass(pass) {}
    ~PlayThread();  // Stop()
    PlayThread(const PlayThread&) = delete;
    PlayThread& operator=(const PlayThread&) = delete;

    // Also hands the wrapper the hook that wakes this thread.
    bool Start();
    void Stop();
    bool Running() const { return m_running.load(); }
    // Makes the thread run a pass now, or right after the one it is in.
    void Wake();

private:
    void Run();

    PlayHelper& m_helper;
    const std::chrono::milliseconds m_pass;
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;  // guards m_pending; lets Stop and Wake cut the pause short
    std::condition_variable m_wake;
    bool m_pending = false;  // a wake-up came since the last pass began
    std::thread m_thread;
};
