#pragma once

#include <audiopolicy.h>

#include <atomic>
#include <functional>
#include <mutex>

// The COM object a session manager calls when a session is opened: hands the
// new session to its handler, on COM's thread, until detached. Reference
// counted like any COM object; made with new and gone at its last Release.
class SessionCreatedSink : public IAudioSessionNotification {
public:
    using Handler = std::function<void(IAudioSessionControl*)>;

    explicit SessionCreatedSink(Handler handler);

    // No call reaches the handler after this returns; one under way is waited
    // for. A manager may still call the sink itself after unregistering it.
    void Detach();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnSessionCreated(IAudioSessionControl* session) override;

private:
    virtual ~SessionCreatedSink() = default;

    std::atomic<ULONG> m_references{1};
    std::mutex m_mutex;
    Handler m_handler;  // guarded by m_mutex
};
