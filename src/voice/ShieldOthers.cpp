#include "voice/ShieldOthers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "voice/PulseSessions.h"

namespace {
using Levels = std::vector<uint32_t>;

// Filled by a lowering, read by the restore that follows it. Only ever used
// under the play sequence's lock, so it needs none of its own.
struct SavedLevels {
    std::map<uint32_t, Levels> byProcess;
    // Streams whose client named no process are remembered one by one.
    std::map<uint32_t, Levels> byStream;
};

SavedLevels& Saved() {
    static SavedLevels saved;
    return saved;
}

// The saved channel volumes, whole when the stream has as many channels as the
// one they were taken from (so its balance survives), else the loudest on all.
Levels Fit(const Levels& saved, size_t channels) {
    if (saved.size() == channels) {
        return saved;
    }
    const uint32_t loudest = saved.empty() ? 0 : *std::max_element(saved.begin(), saved.end());
    return Levels(channels, loudest);
}
}  // namespace

void ShieldOthers(bool restore) {
    try {
        SavedLevels& saved = Saved();
        if (!restore) {
            saved.byProcess.clear();
            saved.byStream.clear();
        }
        PulseSessions& sessions = PulseSessions::Instance();
        std::vector<PulseStream> streams;
        if (!sessions.List(streams)) {
            return;
        }
        const auto self = static_cast<uint32_t>(::getpid());
        std::vector<PulseSessions::Change> changes;
        for (const PulseStream& stream : streams) {
            if (stream.processId == self || stream.volume.empty()) {
                continue;
            }
            auto& byKey = stream.processId != 0 ? saved.byProcess : saved.byStream;
            const uint32_t key = stream.processId != 0 ? stream.processId : stream.index;
            if (!restore) {
                // The first level seen for a process is the one it gets back.
                byKey.try_emplace(key, stream.volume);
                changes.push_back({stream.index, Levels(stream.volume.size(), 0)});
            } else if (const auto it = byKey.find(key); it != byKey.end()) {
                changes.push_back({stream.index, Fit(it->second, stream.volume.size())});
            }
        }
        // A stream that vanished meanwhile fails alone; the others are changed.
        sessions.SetVolumes(changes);
    } catch (...) {
        // Muting is a courtesy: whatever fails, the announcement goes on.
    }
}
