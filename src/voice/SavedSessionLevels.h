#pragma once

#include <optional>
#include <string>
#include <vector>

#include "voice/CoreAudioSession.h"

// Other programs' Core Audio sessions as they were before an announcement
// lowered them, each at its own level (one program's sessions may differ),
// and their text form for the crash file: one line per session,
// tab-separated, readable and editable by hand.
class SavedSessionLevels {
public:
    std::vector<CoreAudioSession> sessions;

    bool Empty() const { return sessions.empty(); }
    void Clear() { sessions.clear(); }

    // The saved record of the same session, or null.
    const CoreAudioSession* Find(const CoreAudioSession& session) const;
    // Adds `session` unless it is saved already: levels still waiting for a
    // restore that failed are not replaced by the zeros it left. False when it
    // was saved already.
    bool Add(const CoreAudioSession& session);
    // The level a session of the program `sessionId` gets back when it was not
    // lowered itself but starts at the 0 Windows remembered from the lowering:
    // the first saved session's of that program.
    std::optional<float> LevelFor(const std::string& sessionId) const;

    // Whether a session's identifiers fit on a line of the file (no tab or
    // line break); one that does not is not lowered, as its level could not
    // be kept.
    static bool Storable(const CoreAudioSession& session);

    std::string ToText() const;
    // Reads what ToText wrote; lines it cannot read are passed over.
    static SavedSessionLevels FromText(const std::string& text);
};
