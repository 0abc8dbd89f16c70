#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "voice/PulseStream.h"
#include "voice/PulseWatch.h"

// What the server remembers for one application and gives its next stream
// (its stream-restore entry). The whole entry is kept, so that writing it
// back loses neither the device nor the mute switch remembered with it.
struct RememberedLevel {
    std::string key;
    std::vector<uint32_t> volume;  // empty: the entry holds no level
    std::string channelMap;        // matches volume; empty with it
    bool muted = false;
    std::string device;  // empty: none remembered

    bool operator==(const RememberedLevel&) const = default;
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
    // Sets each stream's channel volumes, each on its own; false when any
    // change failed. A stream that has gone meanwhile is not a failure.
    struct Change {
        uint32_t index = 0;
        std::vector<uint32_t> volume;
    };
    virtual bool SetVolumes(const std::vector<Change>& changes);

    // The levels the server remembers per application. `complete` tells
    // whether the list is all it remembers: PulseAudio lists every entry, and
    // a key it lacks has none; PipeWire's pulse server lists only the entries
    // written through it (its session manager keeps the rest to itself, and a
    // listed one may be stale), so there the list says nothing. A server
    // without the extension remembers nothing: true, empty and complete.
    virtual bool ReadRemembered(std::vector<RememberedLevel>& levels, bool& complete);
    // Replaces these entries without touching the streams playing now.
    virtual bool WriteRemembered(const std::vector<RememberedLevel>& levels);

    // Reports streams that appear until the result is destroyed; nullptr when
    // the server cannot be reached. The callback runs on the watch's own thread.
    virtual std::unique_ptr<PulseWatch> Watch(PulseWatch::Added added);
};
