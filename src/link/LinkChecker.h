#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/Socket.h"
#include "link/SocketLibrary.h"

// One TCP connection attempt with a 5-second limit; no data is sent.
bool ConnectWithTimeout(const std::string& address, uint32_t port);
// One probe of the cashier side's address.
bool ProbeLink(const std::string& address, uint32_t port);

// The link-check thread: probes, reports, pauses 10 s, for as long as it runs.
// The report is called on the link-check thread (it must not call Stop());
// Stop() wakes it from its pause or from a probe in progress and joins it.
class LinkChecker {
public:
    using Report = std::function<void(bool reachable)>;
    static constexpr std::chrono::milliseconds kPause{10000};

    LinkChecker() = default;
    ~LinkChecker();  // Stop()
    LinkChecker(const LinkChecker&) = delete;
    LinkChecker& operator=(const LinkChecker&) = delete;

    // False when already running, or without an address or a port.
    bool Start(const std::string& address, uint32_t port, Report report);
    void Stop();
    // The pause after each report; tests shorten it. Call before Start().
    void SetPause(std::chrono::milliseconds pause) { m_pause = pause; }

private:
    void Run(std::string address, uint32_t port, Report report);

    // First, so that the sockets below go before it.
    SocketLibrary m_library;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    // What cuts a probe short at Stop() (LinkProbe.h), in the socket holder.
    Socket m_cancel;
    std::chrono::milliseconds m_pause = kPause;
};
