#pragma once

#include <cstdint>
#include <string>

// One audio session of a program on a Windows render endpoint, as read from
// Core Audio: what finds it again and the level it had. Plain data, so that the
// saved levels and their file need no Windows headers.
struct CoreAudioSession {
    // GetSessionInstanceIdentifier, UTF-8: this one session, on its endpoint,
    // of this one process run.
    std::string instanceId;
    // GetSessionIdentifier, UTF-8: the program's session whatever its run, the
    // key under which Windows remembers the program's level.
    std::string sessionId;
    uint32_t processId = 0;
    float level = 1.0f;  // ISimpleAudioVolume master volume, 0 .. 1
    bool muted = false;

    // The same session as `other`: instance identifiers alone would do, but
    // the process id keeps a reused or hand-edited line from matching another.
    bool SameAs(const CoreAudioSession& other) const {
        return instanceId == other.instanceId && processId == other.processId;
    }
};
