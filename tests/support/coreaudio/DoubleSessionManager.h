#pragma once

#include <audiopolicy.h>
#include <wrl/client.h>

#include <vector>

#include "support/coreaudio/ComDouble.h"
#include "support/coreaudio/DoubleSession.h"

// One endpoint's session manager (IAudioSessionManager2): lists `sessions`,
// or answers `listResult` when that is a failure (Wine's E_NOTIMPL), and tells
// the registered sinks of a session Open() adds.
class DoubleSessionManager : public ComDouble, public IAudioSessionManager2 {
public:
    std::vector<Microsoft::WRL::ComPtr<DoubleSession>> sessions;
    HRESULT listResult = S_OK;

    // Adds `session` and tells every registered sink, on the caller's thread.
    void Open(const Microsoft::WRL::ComPtr<DoubleSession>& session);
    size_t Registered() const { return m_sinks.size(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
    // IAudioSessionManager
    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID session, DWORD flags,
                                                     IAudioSessionControl** control) override;
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID session, DWORD flags,
                                                   ISimpleAudioVolume** volume) override;
    // IAudioSessionManager2
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** list) override;
    HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification* sink) override;
    HRESULT STDMETHODCALLTYPE
    UnregisterSessionNotification(IAudioSessionNotification* sink) override;
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR session,
                                                       IAudioVolumeDuckNotification* sink) override;
    HRESULT STDMETHODCALLTYPE
    UnregisterDuckNotification(IAudioVolumeDuckNotification* sink) override;

private:
    std::vector<Microsoft::WRL::ComPtr<IAudioSessionNotification>> m_sinks;
};
