#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/Deliver.h"
#include "api/TransferAbort.h"

// Fetches clips named by cashier messages on a worker thread of its own, so
// that no cashier connection, window or shutdown waits on the web server. One
// transfer at a time; each is bounded by the transport's total time limit.
class ClipDownloader {
public:
    using Done = std::function<void()>;
    static constexpr size_t kMaxPending = 16;

    // `deliver` runs each completion where the owner wants it.
    explicit ClipDownloader(Deliver deliver, size_t maxPending = kMaxPending);
    ~ClipDownloader();  // Stop()
    ClipDownloader(const ClipDownloader&) = delete;
    ClipDownloader& operator=(const ClipDownloader&) = delete;

    // Fetches `url` into `localPath`; `done` is delivered once the transfer has
    // ended, whatever its result. A path already waiting or being fetched is
    // fetched once and all its callers are told. Beyond `maxPending` waiting
    // paths the request is dropped with an error line and `done` is delivered
    // at once. After Stop() nothing is fetched and nothing delivered.
    void Fetch(const std::string& url, const std::string& localPath, Done done);
    // Ends the transfer under way at once, drops the waiting ones, joins.
    void Stop();

private:
    struct Job {
        std::string url;
        std::string localPath;
        std::vector<Done> waiters;
    };

    void Run();
    Job* FindLocked(const std::string& localPath);
    void DeliverAll(std::vector<Done> waiters);

    Deliver m_deliver;
    const size_t m_maxPending;
    TransferAbort m_abort;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_pending;
    Job m_current;  // the job being fetched; empty path when none
    bool m_stopping = false;
    std::thread m_thread;
};
