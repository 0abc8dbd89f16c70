#include "link/LinkChecker.h"

#include <pthread.h>

#include <chrono>

#include "app/AltSignalStack.h"
#include "link/LinkProbe.h"
#include "link/SocketLibrary.h"

bool ConnectWithTimeout(const std::string& address, uint32_t port) {
    // Called on its own too, without a checker holding the library.
    const SocketLibrary library;
    return library.Started() && ConnectProbe(address, port, kNoSocket);
}

bool ProbeLink(const std::string& address, uint32_t port) {
    return ConnectWithTimeout(address, port);
}

LinkChecker::~LinkChecker() {
    Stop();
}

bool LinkChecker::Start(const std::string& address, uint32_t port, Report report) {
    if (m_thread.joinable() || address.empty() || port == 0 || !m_library.Started()) {
        return false;
    }
    m_cancel = OpenProbeCancel();
    if (!m_cancel.IsOpen()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread(&LinkChecker::Run, this, address, port, std::move(report));
    return true;
}

void LinkChecker::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    SignalProbeCancel(m_cancel);
    m_thread.join();
    m_cancel = Socket();
}

void LinkChecker::Run(std::string address, uint32_t port, Report report) {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-link");
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        lock.unlock();
        const bool reachable = ConnectProbe(address, port, m_cancel.Fd());
        lock.lock();
        if (m_stop) {
            break;
        }
        lock.unlock();
        report(reachable);
        lock.lock();
        m_wake.wait_for(lock, m_pause, [this] { return m_stop; });
    }
}
