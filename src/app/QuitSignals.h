#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT, SIGHUP and SIGQUIT turned into a call on the main loop, so
// the program leaves the way the tray's "退出" does: settings saved, threads
// joined, other programs' audio given back. The handler only writes a byte
// into a socket pair whose other end the main loop watches. Owns both ends and
// closes them; one instance at a time. On Windows (QuitSignalsConsole.cpp)
// the console's control events (Ctrl+C, Ctrl+Break, its window closed, log-off,
// shutdown) take their place, posted to the main loop by the handler.
class QuitSignals {
public:
    // `onQuit` runs on the main thread for each burst of signals. Without the
    // socket pair (logged by nobody: the program then simply dies of the
    // signal as any other) nothing is installed.
    explicit QuitSignals(std::function<void()> onQuit);
    // Signals arriving from here on are ignored, as they would be mid-shutdown.
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool Installed() const { return m_installed; }

private:
    void Drain();

    bool m_installed = false;
    int m_fds[2] = {-1, -1};  // the socket pair (Linux)
    std::function<void()> m_onQuit;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
