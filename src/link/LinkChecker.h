#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// One TCP connection attempt with a 5-second limit; no data is sent.
bool ConnectWithTimeout(const std::string& address, uint32_t port);
// One probe of the cashier side's address.
bool ProbeLink(const std::string& address, uint32_t port);

// The link-check thread: probes, reports, pauses 10 s, for as long as it runs.
// The report is called on the link-check thread; Stop() wakes it from its pause
// and joins it.
class LinkChecker {
public:
    using Report = std::function<void(bool reachable)>;
    LinkChecker() = default;
    ~LinkChecker();  // Stop()
    LinkChecker(const LinkChecker&) = delete;
    LinkChecker& operator=(const LinkChecker&) = delete;

    bool Start(const std::string& address, uint32_t port, Report report);
    void Stop();

private:
    void Run(std::string address, uint32_t port, Report report);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};
