#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "voice/CoreAudioSessions.h"
#include "voice/CoreAudioWatch.h"
#include "voice/LevelsFile.h"
#include "voice/SavedSessionLevels.h"

// How other programs' Core Audio sessions are lowered for an announcement and
// always get their own levels back:
// - Each session's level and mute are saved (one program's sessions may
//   differ) and kept in the levels file before any session is lowered; only a
//   good restore removes the file, so a crash leaves it for the next start.
// - A session opened while lowered is announced by its endpoint's session
//   manager: it is saved, kept and lowered too. Windows remembers a program's
//   level by its session identifier, so one that starts at the lowering's 0
//   gets its program's saved level back.
// - The restore sets each session that is still there; one that has gone is
//   no failure. Only endpoints that cannot be reached keep the levels (and the
//   file) for the next try.
// The Core Audio objects belong to the apartment of the thread that made them,
// so each call is handed the caller's sessions; the watch made by Lower lives
// until the next Restore, which must come from the same thread.
class SessionShield {
public:
    SessionShield(LevelsFile& file, uint32_t selfProcessId);
    ~SessionShield();
    SessionShield(const SessionShield&) = delete;
    SessionShield& operator=(const SessionShield&) = delete;

    // Takes on what a run that ended without its restore kept.
    void Adopt(SavedSessionLevels saved);
    bool Pending();

    void Lower(CoreAudioSessions& sessions);
    // True when nothing is left lowered.
    bool Restore(CoreAudioSessions& sessions);

private:
    // On COM's thread: a session opened while lowered.
    std::optional<CoreAudioSessions::Level> OnCreated(const CoreAudioSession& session);

    LevelsFile& m_file;
    const uint32_t m_self;
    // The watch's calls add sessions while the play thread may restore.
    std::mutex m_mutex;
    SavedSessionLevels m_saved;  // guarded by m_mutex
    // Never dropped with m_mutex held: dropping it waits for a call under way,
    // which takes that lock.
    std::unique_ptr<CoreAudioWatch> m_watch;
};
