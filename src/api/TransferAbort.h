#pragma once

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <vector>

// Lets another thread end the transfers of a worker at once: a stalled web
// server must not hold up shutdown. Once aborted it stays aborted, so a
// transfer that starts afterwards ends at once too.
class TransferAbort {
public:
    TransferAbort() = default;
    TransferAbort(const TransferAbort&) = delete;
    TransferAbort& operator=(const TransferAbort&) = delete;

    // Any thread: ends the transfers waiting now and every later one.
    void Abort();
    bool Aborted() const { return m_aborted.load(); }

    // For the transport: a transfer waiting in `multi`, to be woken by Abort().
    // Attach is false when the abort came first; Detach before the handle goes.
    bool Attach(CURLM* multi);
    void Detach(CURLM* multi);

private:
    std::atomic<bool> m_aborted{false};
    std::mutex m_mutex;  // keeps a handle alive while Abort() wakes it
    std::vector<CURLM*> m_waiting;
};
