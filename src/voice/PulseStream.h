#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct pa_sink_input_info;

// One playback stream of the audio server (a PulseAudio sink input; PipeWire's
// pulse server reports its streams the same way).
struct PulseStream {
    uint32_t index = 0;
    uint32_t processId = 0;        // application.process.id; 0 when the client gave none
    std::vector<uint32_t> volume;  // per channel, 0 .. 65536 (= 100 %) and above
    std::string channelMap;        // "front-left,front-right"
    bool muted = false;
    // The name under which the server remembers this application's level
    // ("sink-input-by-application-name:..."); empty when it remembers none.
    std::string restoreKey;

    // Fills `stream` from the server's description; false for a stream
    // without a volume of its own, which cannot be lowered.
    static bool FromInfo(const pa_sink_input_info& info, PulseStream& stream);
};
