#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "api/Deliver.h"

// Stands in for the main thread's event queue: workers post their
// completions here and the test thread runs them.
class OwnerQueue {
public:
    Deliver Poster() {
        return [this](std::function<void()> task) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
            m_wake.notify_all();
        };
    }
    // Runs posted tasks on this thread until `done` holds; false if it still
    // did not after a minute (a guard against hanging, not a speed check).
    bool RunUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!done()) {
            if (m_tasks.empty()) {
                if (m_wake.wait_until(lock, deadline) == std::cv_status::timeout) {
                    return done();
                }
                continue;
            }
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
        return true;
    }
    size_t Waiting() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tasks.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};
