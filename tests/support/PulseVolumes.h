#pragma once

// Playback stream volumes as the PulseAudio server itself reports them, read
// with its own command-line client (pactl), so a test does not check the
// program's libpulse code with that same code. Header-only: it needs jsoncpp,
// which only the voice tests link.
#include <json/json.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/SpawnedProcess.h"

namespace pulse_volumes {
using Channels = std::map<std::string, uint32_t>;           // channel name -> raw volume
using Streams = std::map<uint32_t, std::vector<Channels>>;  // process id -> its streams

constexpr uint32_t kFull = 65536;

inline uint32_t Raw(double level) {
    return static_cast<uint32_t>(level * kFull + 0.5);
}

inline Channels Stereo(double level) {
    return {{"front-left", Raw(level)}, {"front-right", Raw(level)}};
}

// The server's sink inputs as pactl prints them; `scratch` is a file the
// listing may be written to. Null when pactl failed.
inline Json::Value List(const std::string& scratch) {
    SpawnedProcess pactl;
    SpawnedProcess::Options options;
    options.stdoutPath = scratch;
    if (!pactl.Start({"pactl", "-f", "json", "list", "sink-inputs"}, options)) {
        return {};
    }
    pactl.Stop(0);
    std::ifstream in(scratch);
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    return Json::parseFromStream(builder, in, &root, &errors) ? root : Json::Value();
}

inline std::string ProcessOf(const Json::Value& input) {
    return input["properties"].get("application.process.id", "0").asString();
}

inline Streams Read(const std::string& scratch) {
    Streams streams;
    for (const Json::Value& input : List(scratch)) {
        Channels channels;
        for (const std::string& name : input["volume"].getMemberNames()) {
            channels[name] = input["volume"][name]["value"].asUInt();
        }
        streams[static_cast<uint32_t>(std::stoul(ProcessOf(input)))].push_back(channels);
    }
    return streams;
}

// Index of the (first) stream of a process, or -1.
inline long IndexOf(const std::string& scratch, uint32_t pid) {
    for (const Json::Value& input : List(scratch)) {
        if (ProcessOf(input) == std::to_string(pid)) {
            return static_cast<long>(input["index"].asUInt());
        }
    }
    return -1;
}
}  // namespace pulse_volumes
