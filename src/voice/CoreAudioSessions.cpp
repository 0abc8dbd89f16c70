#include "voice/CoreAudioSessions.h"

#include <audiopolicy.h>
#include <objbase.h>

#include <utility>

using Microsoft::WRL::ComPtr;

namespace {
std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();  // the terminator
    return out;
}

// One of the two identifier getters, into UTF-8; the string is COM's to free.
template <typename Getter>
std::string Identifier(Getter get) {
    LPWSTR text = nullptr;
    if (FAILED(get(&text))) {
        return {};
    }
    std::string out = Utf8(text);
    ::CoTaskMemFree(text);
    return out;
}

// Gone rather than failed: the session or its endpoint no longer exists.
bool Gone(HRESULT hr) {
    return hr == AUDCLNT_E_DEVICE_INVALIDATED;
}

bool Expired(IAudioSessionControl* control) {
    AudioSessionState state = AudioSessionStateInactive;
    return SUCCEEDED(control->GetState(&state)) && state == AudioSessionStateExpired;
}

// Calls `each` with every session of `manager`; false when they cannot be
// listed (an endpoint that went meanwhile only has none).
template <typename Each>
bool ForEachSession(IAudioSessionManager2* manager, Each each) {
    ComPtr<IAudioSessionEnumerator> sessions;
    int count = 0;
    HRESULT hr = manager->GetSessionEnumerator(&sessions);
    if (SUCCEEDED(hr)) {
        hr = sessions->GetCount(&count);
    }
    if (FAILED(hr)) {
        return Gone(hr);
    }
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        ComPtr<IAudioSessionControl> control;
        if (FAILED(sessions->GetSession(i, &control)) || control == nullptr) {
            continue;  // ended while listed
        }
        if (!each(control.Get())) {
            ok = false;
        }
    }
    return ok;
}
}  // namespace

CoreAudioSessions::CoreAudioSessions(IMMDeviceEnumerator* enumerator) : m_enumerator(enumerator) {}

bool CoreAudioSessions::ManagersOf(Managers& managers) {
    if (m_enumerator == nullptr) {
        return false;
    }
    ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (FAILED(m_enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &endpoints)) ||
        FAILED(endpoints->GetCount(&count))) {
        return false;
    }
    bool ok = true;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> endpoint;
        ComPtr<IAudioSessionManager2> manager;
        HRESULT hr = endpoints->Item(i, &endpoint);
        if (SUCCEEDED(hr)) {
            hr = endpoint->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(manager.GetAddressOf()));
        }
        if (SUCCEEDED(hr) && manager != nullptr) {
            managers.push_back(std::move(manager));
        } else if (!Gone(hr)) {
            ok = false;  // there, but out of reach
        }
    }
    return ok;
}

bool CoreAudioSessions::Read(IAudioSessionControl* control, CoreAudioSession& session) {
    ComPtr<IAudioSessionControl2> control2;
    ComPtr<ISimpleAudioVolume> volume;
    if (FAILED(control->QueryInterface(IID_PPV_ARGS(&control2))) ||
        FAILED(control->QueryInterface(IID_PPV_ARGS(&volume)))) {
        return false;
    }
    if (control2->IsSystemSoundsSession() == S_OK) {
        return false;
    }
    DWORD processId = 0;
    float level = 0.0f;
    BOOL muted = FALSE;
    // A session several processes share answers with a success code and its
    // first process's id: lowered like any other unless that one is ours.
    if (FAILED(control2->GetProcessId(&processId)) || FAILED(volume->GetMasterVolume(&level)) ||
        FAILED(volume->GetMute(&muted))) {
        return false;
    }
    session.processId = static_cast<uint32_t>(processId);
    session.level = level;
    session.muted = muted != FALSE;
    session.instanceId =
        Identifier([&](LPWSTR* text) { return control2->GetSessionInstanceIdentifier(text); });
    session.sessionId =
        Identifier([&](LPWSTR* text) { return control2->GetSessionIdentifier(text); });
    return !session.instanceId.empty();
}

bool CoreAudioSessions::Set(IAudioSessionControl* control, const CoreAudioSession& session,
                            const Level& level) {
    if (Expired(control)) {
        return true;
    }
    ComPtr<ISimpleAudioVolume> volume;
    if (FAILED(control->QueryInterface(IID_PPV_ARGS(&volume)))) {
        return false;
    }
    HRESULT hr = volume->SetMasterVolume(level.level, nullptr);
    if (SUCCEEDED(hr) && level.muted != session.muted) {
        hr = volume->SetMute(level.muted ? TRUE : FALSE, nullptr);
    }
    return SUCCEEDED(hr) || Gone(hr) || Expired(control);
}

bool CoreAudioSessions::List(std::vector<CoreAudioSession>& sessions) {
    const auto list = [&](IAudioSessionControl* control) {
        CoreAudioSession session;
        if (!Expired(control) && Read(control, session)) {
            sessions.push_back(std::move(session));
        }
        return true;
    };
    Managers managers;
    bool ok = ManagersOf(managers);
    for (const auto& manager : managers) {
        if (!ForEachSession(manager.Get(), list)) {
            ok = false;
        }
    }
    return ok;
}

bool CoreAudioSessions::Apply(const Decide& decide) {
    const auto apply = [&](IAudioSessionControl* control) {
        CoreAudioSession session;
        if (Expired(control) || !Read(control, session)) {
            return true;  // gone, or none of ours to set
        }
        const std::optional<Level> level = decide(session);
        return !level || Set(control, session, *level);
    };
    Managers managers;
    bool ok = ManagersOf(managers);
    for (const auto& manager : managers) {
        if (!ForEachSession(manager.Get(), apply)) {
            ok = false;
        }
    }
    return ok;
}

std::unique_ptr<CoreAudioWatch> CoreAudioSessions::Watch(Decide decide) {
    Managers managers;
    ManagersOf(managers);
    auto watch = std::make_unique<CoreAudioWatch>(
        managers, [decide = std::move(decide)](IAudioSessionControl* control) {
            CoreAudioSession session;
            if (!Read(control, session)) {
                return;
            }
            if (const std::optional<Level> level = decide(session)) {
                Set(control, session, *level);
            }
        });
    if (!watch->Watching()) {
        return nullptr;
    }
    return watch;
}
