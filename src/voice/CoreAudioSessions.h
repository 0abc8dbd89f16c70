#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "voice/CoreAudioSession.h"
#include "voice/CoreAudioWatch.h"

// The audio sessions of every active render endpoint, through Core Audio
// (IAudioSessionManager2 of each endpoint of the enumerator it is handed).
// Windows' system sounds session is never listed: it is not a program's.
// Used on the thread, and in the apartment, that made the enumerator.
class CoreAudioSessions {
public:
    struct Level {
        float level = 1.0f;
        bool muted = false;
    };
    // What a session is to be set to, or nothing to leave it as it is.
    using Decide = std::function<std::optional<Level>(const CoreAudioSession&)>;

    explicit CoreAudioSessions(IMMDeviceEnumerator* enumerator);

    // Every session there is. False when the endpoints or the sessions of one
    // of them could not be read (`sessions` then holds the others').
    bool List(std::vector<CoreAudioSession>& sessions);
    // Lists the sessions again and sets each to what `decide` says, so that a
    // session is only ever changed while it is there. A session that went
    // meanwhile (expired, or on an endpoint that went) is passed over. False
    // when an endpoint could not be reached or a session that is there did not
    // take its level.
    bool Apply(const Decide& decide);
    // Tells `decide` about each session opened from now on and sets it to what
    // that says, until the watch is dropped. Null when no endpoint could be
    // watched.
    std::unique_ptr<CoreAudioWatch> Watch(Decide decide);

    // Reads one session; false for the system sounds session or one that
    // cannot be read.
    static bool Read(IAudioSessionControl* control, CoreAudioSession& session);
    static bool Set(IAudioSessionControl* control, const CoreAudioSession& session,
                    const Level& level);

private:
    using Managers = CoreAudioWatch::Managers;
    // The session managers of the active render endpoints; false when the
    // endpoints could not be listed or one that is there could not be opened.
    bool ManagersOf(Managers& managers);

    Microsoft::WRL::ComPtr<IMMDeviceEnumerator> m_enumerator;
};
