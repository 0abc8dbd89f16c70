#pragma once

#include <audiopolicy.h>
#include <wrl/client.h>

#include <vector>

#include "voice/SessionCreatedSink.h"

// One sink registered with session managers for new sessions, for as long as
// the watch lives: dropping it detaches the sink (waiting for a call under
// way) and unregisters it from each manager.
class CoreAudioWatch {
public:
    using Managers = std::vector<Microsoft::WRL::ComPtr<IAudioSessionManager2>>;

    // Registers a sink over `handler` with each manager; Watching() tells
    // whether any took it.
    CoreAudioWatch(const Managers& managers, SessionCreatedSink::Handler handler);
    ~CoreAudioWatch();
    CoreAudioWatch(const CoreAudioWatch&) = delete;
    CoreAudioWatch& operator=(const CoreAudioWatch&) = delete;

    bool Watching() const { return !m_registered.empty(); }

private:
    Microsoft::WRL::ComPtr<SessionCreatedSink> m_sink;
    Managers m_registered;
};
