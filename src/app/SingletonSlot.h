#pragma once

#include <atomic>
#include <mutex>

// Where a process-wide service (PlayHelper, SocketHelper, IniHelper,
// LogHelper, LoginResult) keeps its one instance, so that all of them are made
// the same way: created on first use of GetInstance (main() makes each one
// first, in the order a reader sees there), looked at without creating with
// Peek, and taken out by the shutdown sequence. Threads may log or read the
// settings before start-up has made the instance; the lock makes sure only
// one is ever made.
template <class T>
class SingletonSlot {
public:
    // The instance, made by `make` (which returns a new T, or nullptr when it
    // could not) if there is none yet.
    template <class Make>
    T* GetOrCreate(Make make) {
        T* instance = m_instance.load(std::memory_order_acquire);
        if (instance == nullptr) {
            const std::lock_guard<std::mutex> lock(m_createMutex);
            instance = m_instance.load(std::memory_order_relaxed);
            if (instance == nullptr) {
                instance = make();
                m_instance.store(instance, std::memory_order_release);
            }
        }
        return instance;
    }
    T* Peek() const { return m_instance.load(std::memory_order_acquire); }
    // Shutdown: `last` gets the instance for its final work, then it is
    // released; nothing when there is none. A GetInstance meanwhile waits and
    // then makes a new one.
    template <class Last>
    void Destroy(Last last) {
        const std::lock_guard<std::mutex> lock(m_createMutex);
        T* instance = m_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            return;
        }
        // Still reachable while it does its last work (which may log).
        last(*instance);
        m_instance.store(nullptr, std::memory_order_release);
        delete instance;
    }
    void Destroy() {
        Destroy([](T&) {});
    }

private:
    std::atomic<T*> m_instance{nullptr};
    std::mutex m_createMutex;
};
