#include "voice/CoreAudioWatch.h"

#include <utility>

CoreAudioWatch::CoreAudioWatch(const Managers& managers, SessionCreatedSink::Handler handler) {
    m_sink.Attach(new SessionCreatedSink(std::move(handler)));
    for (const auto& manager : managers) {
        if (FAILED(manager->RegisterSessionNotification(m_sink.Get()))) {
            continue;
        }
        m_registered.push_back(manager);
        // A manager only starts telling of new sessions once its sessions have
        // been listed in this process.
        Microsoft::WRL::ComPtr<IAudioSessionEnumerator> sessions;
        manager->GetSessionEnumerator(&sessions);
    }
}

CoreAudioWatch::~CoreAudioWatch() {
    m_sink->Detach();
    for (const auto& manager : m_registered) {
        manager->UnregisterSessionNotification(m_sink.Get());
    }
}
