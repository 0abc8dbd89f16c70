#include "support/coreaudio/DoubleSession.h"

#include <objbase.h>

#include <cstring>
#include <utility>

namespace {
// A copy the caller frees with CoTaskMemFree, as Core Audio's are.
HRESULT Copy(const std::wstring& text, LPWSTR* out) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (*out == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(*out, text.c_str(), bytes);
    return S_OK;
}
}  // namespace

DoubleSession::DoubleSession(std::wstring instanceId, std::wstring sessionId, uint32_t processId,
                             float level, bool muted)
    : instanceId(std::move(instanceId)),
      sessionId(std::move(sessionId)),
      processId(processId),
      level(level),
      muted(muted) {}

HRESULT STDMETHODCALLTYPE DoubleSession::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (iid == __uuidof(IUnknown)) {
        *object = static_cast<IAudioSessionControl2*>(this);
        AddRef();
        return S_OK;
    }
    if (AnswerAs<IAudioSessionControl>(this, iid, object) ||
        AnswerAs<IAudioSessionControl2>(this, iid, object) ||
        AnswerAs<ISimpleAudioVolume>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetState(AudioSessionState* out) {
    *out = state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetDisplayName(LPWSTR* name) {
    return Copy(L"", name);
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetDisplayName(LPCWSTR, LPCGUID) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetIconPath(LPWSTR* path) {
    return Copy(L"", path);
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetIconPath(LPCWSTR, LPCGUID) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetGroupingParam(GUID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetGroupingParam(LPCGUID, LPCGUID) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::RegisterAudioSessionNotification(IAudioSessionEvents*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::UnregisterAudioSessionNotification(IAudioSessionEvents*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetSessionIdentifier(LPWSTR* id) {
    return Copy(sessionId, id);
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetSessionInstanceIdentifier(LPWSTR* id) {
    return Copy(instanceId, id);
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetProcessId(DWORD* id) {
    *id = processId;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::IsSystemSoundsSession() {
    return systemSounds ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetDuckingPreference(BOOL) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetMasterVolume(float value, LPCGUID) {
    if (onSetLevel) {
        onSetLevel(value);
    }
    if (FAILED(setResult)) {
        return setResult;
    }
    level = value;
    ++levelsSet;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetMasterVolume(float* value) {
    *value = level;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::SetMute(BOOL value, LPCGUID) {
    if (FAILED(setResult)) {
        return setResult;
    }
    muted = value != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSession::GetMute(BOOL* value) {
    *value = muted ? TRUE : FALSE;
    return S_OK;
}
