#include "api/ClipDownloader.h"

#include <pthread.h>

#include <utility>

#include "api/HttpClient.h"
#include "app/AltSignalStack.h"
#include "app/LogHelper.h"

ClipDownloader::ClipDownloader(Deliver deliver, size_t maxPending)
    : m_deliver(std::move(deliver)), m_maxPending(maxPending) {}

ClipDownloader::~ClipDownloader() {
    Stop();
}

ClipDownloader::Job* ClipDownloader::FindLocked(const std::string& localPath) {
    if (!m_current.localPath.empty() && m_current.localPath == localPath) {
        return &m_current;
    }
    for (Job& job : m_pending) {
        if (job.localPath == localPath) {
            return &job;
        }
    }
    return nullptr;
}

void ClipDownloader::Fetch(const std::string& url, const std::string& localPath, Done done) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            return;
        }
        if (Job* job = FindLocked(localPath)) {
            job->waiters.push_back(std::move(done));
            return;
        }
        if (m_pending.size() < m_maxPending) {
            m_pending.push_back(Job{url, localPath, {}});
            m_pending.back().waiters.push_back(std::move(done));
            // Started on first use: a store that never names a server clip
            // never has the thread.
            if (!m_thread.joinable()) {
                m_thread = std::thread([this] { Run(); });
            }
            m_wake.notify_one();
            return;
        }
    }
    // A flood of new clip names must not grow memory or delay shutdown; the
    // clip is announced as after a failed download and tried again next time.
    LogHelper::GetInstance()->Error("下载队列已满，未下载: " + localPath);
    DeliverAll({std::move(done)});
}

void ClipDownloader::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_pending.clear();
    }
    m_abort.Abort();
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ClipDownloader::DeliverAll(std::vector<Done> waiters) {
    if (!m_deliver) {
        return;
    }
    // One hand-over keeps the callers in the order they asked.
    m_deliver([waiters = std::move(waiters)] {
        for (const Done& done : waiters) {
            if (done) {
                done();
            }
        }
    });
}

void ClipDownloader::Run() {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-download");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        if (m_stopping) {
            return;
        }
        m_current = std::move(m_pending.front());
        m_pending.pop_front();
        const std::string url = m_current.url;
        const std::string localPath = m_current.localPath;
        lock.unlock();
        bool ok = false;
        try {
            ok = DownloadFile(url, localPath, &m_abort);
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 ClipDownloader::Run");
        }
        lock.lock();
        std::vector<Done> waiters = std::move(m_current.waiters);
        m_current = Job{};
        if (m_stopping) {
            return;
        }
        lock.unlock();
        if (!ok) {
            LogHelper::GetInstance()->Error("下载语音失败: " + url);
        }
        DeliverAll(std::move(waiters));
        lock.lock();
    }
}
