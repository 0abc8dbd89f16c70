#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One playback stream of the audio server (a PulseAudio sink input; PipeWire's
// pulse server reports its streams the same way).
struct PulseStream {
    uint32_t index = 0;
    uint32_t processId = 0;        // application.process.id; 0 when the client gave none
    std::vector<uint32_t> volume;  // per channel, 0 .. 65536 (= 100 %) and above
};

// The audio server's playback streams as the muting sees them. Every call
// connects, works and disconnects within kDeadline, and reports failure (no
// server, a refused call, the deadline passed) by its result. Tests install
// their own instance to say "the server is gone"; the program uses the real one.
class PulseSessions {
public:
    static constexpr std::chrono::milliseconds kDeadline{1000};

    virtual ~PulseSessions() = default;

    static PulseSessions& Instance();
    // Replaces the instance; nullptr puts the real one back. Not thread-safe.
    static void Install(std::unique_ptr<PulseSessions> instance);

    // Every playback stream of the server.
    virtual bool List(std::vector<PulseStream>& streams);
    // Sets each stream's channel volumes; false when any change failed.
    struct Change {
        uint32_t index = 0;
        std::vector<uint32_t> volume;
    };
    virtual bool SetVolumes(const std::vector<Change>& changes);
};
