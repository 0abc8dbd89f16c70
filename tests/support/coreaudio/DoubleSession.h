#pragma once

#include <audiopolicy.h>

#include <cstdint>
#include <functional>
#include <string>

#include "support/coreaudio/ComDouble.h"

// One program's audio session as Core Audio hands it out: its control and its
// volume. Its answers are fields a test sets; `onSetLevel` sees each level set
// before it is taken.
class DoubleSession : public ComDouble, public IAudioSessionControl2, public ISimpleAudioVolume {
public:
    DoubleSession(std::wstring instanceId, std::wstring sessionId, uint32_t processId, float level,
                  bool muted = false);

    std::wstring instanceId;
    std::wstring sessionId;
    uint32_t processId;
    float level;
    bool muted;
    bool systemSounds = false;
    AudioSessionState state = AudioSessionStateActive;
    HRESULT setResult = S_OK;  // what SetMasterVolume and SetMute answer
    std::function<void(float)> onSetLevel;
    int levelsSet = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    // IAudioSessionControl
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* out) override;
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* name) override;
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR name, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR* path) override;
    HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR path, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID* grouping) override;
    HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID grouping, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE
    RegisterAudioSessionNotification(IAudioSessionEvents* events) override;
    HRESULT STDMETHODCALLTYPE
    UnregisterAudioSessionNotification(IAudioSessionEvents* events) override;
    // IAudioSessionControl2
    HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* id) override;
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override;
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL optOut) override;
    // ISimpleAudioVolume
    HRESULT STDMETHODCALLTYPE SetMasterVolume(float value, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE GetMasterVolume(float* value) override;
    HRESULT STDMETHODCALLTYPE SetMute(BOOL value, LPCGUID context) override;
    HRESULT STDMETHODCALLTYPE GetMute(BOOL* value) override;
};
