#include "support/coreaudio/DoubleSessionManager.h"

#include <algorithm>

#include "support/coreaudio/DoubleSessionList.h"

void DoubleSessionManager::Open(const Microsoft::WRL::ComPtr<DoubleSession>& session) {
    sessions.push_back(session);
    const auto sinks = m_sinks;  // a sink may unregister while told
    for (const auto& sink : sinks) {
        sink->OnSessionCreated(static_cast<IAudioSessionControl2*>(session.Get()));
    }
}

HRESULT STDMETHODCALLTYPE DoubleSessionManager::QueryInterface(REFIID iid, void** object) {
    if (AnswerAs<IUnknown>(this, iid, object) ||
        AnswerAs<IAudioSessionManager>(this, iid, object) ||
        AnswerAs<IAudioSessionManager2>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleSessionManager::GetAudioSessionControl(LPCGUID, DWORD,
                                                                       IAudioSessionControl**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSessionManager::GetSimpleAudioVolume(LPCGUID, DWORD,
                                                                     ISimpleAudioVolume**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE
DoubleSessionManager::GetSessionEnumerator(IAudioSessionEnumerator** list) {
    if (FAILED(listResult)) {
        return listResult;
    }
    *list = MakeDouble<DoubleSessionList>(sessions).Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE
DoubleSessionManager::RegisterSessionNotification(IAudioSessionNotification* sink) {
    if (sink == nullptr) {
        return E_POINTER;
    }
    m_sinks.emplace_back(sink);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE
DoubleSessionManager::UnregisterSessionNotification(IAudioSessionNotification* sink) {
    const auto it = std::find_if(m_sinks.begin(), m_sinks.end(),
                                 [sink](const auto& held) { return held.Get() == sink; });
    if (it == m_sinks.end()) {
        return E_INVALIDARG;
    }
    m_sinks.erase(it);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE
DoubleSessionManager::RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE
DoubleSessionManager::UnregisterDuckNotification(IAudioVolumeDuckNotification*) {
    return E_NOTIMPL;
}
