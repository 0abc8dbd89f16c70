#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "voice/PulseStream.h"

// Tells of playback streams that appear on the audio server, for as long as
// it lives: one connection with a thread of its own
// ("voice-shield"), stopped and joined by the destructor. The callbacks run
// on that thread, one at a time; they may block, as the watch waits for them.
class PulseWatch {
public:
    using Added = std::function<void(const PulseStream&)>;

    // nullptr when the server cannot be reached within PulseSessions::kDeadline.
    static std::unique_ptr<PulseWatch> Start(Added added);

    virtual ~PulseWatch();
    PulseWatch(const PulseWatch&) = delete;
    PulseWatch& operator=(const PulseWatch&) = delete;

protected:
    PulseWatch() = default;  // for tests' own watches

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
