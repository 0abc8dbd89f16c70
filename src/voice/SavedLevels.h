#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "voice/PulseSessions.h"

// Other programs' audio as it was before an announcement lowered it: each
// stream's own level (two streams of one program may differ), and what the
// server remembered for each of those programs. Also its text form, the file
// that gives the levels back after a crash: one line per item, tab-separated,
// readable and editable by hand.
class SavedLevels {
public:
    std::map<uint32_t, PulseStream> streams;            // by stream index
    std::map<std::string, RememberedLevel> remembered;  // by restore key

    bool Empty() const { return streams.empty() && remembered.empty(); }
    void Clear();

    // The level a stream of `key` gets back when it was not lowered itself
    // (opened while lowered, or found again after the server restarted): the
    // level remembered before the announcement, else the first saved stream's
    // of that program; empty when neither is known.
    std::vector<uint32_t> LevelFor(const std::string& key, size_t channels) const;

    std::string ToText() const;
    // Reads what ToText wrote; lines it cannot read are passed over.
    static SavedLevels FromText(const std::string& text);
};

// The saved channel volumes, whole when the stream has as many channels as the
// one they were taken from (so its balance survives), else the loudest on all.
std::vector<uint32_t> FitChannels(const std::vector<uint32_t>& saved, size_t channels);
