#include "voice/SessionShield.h"

#include <utility>
#include <vector>

SessionShield::SessionShield(LevelsFile& file, uint32_t selfProcessId)
    : m_file(file), m_self(selfProcessId) {}

SessionShield::~SessionShield() {
    m_watch.reset();
}

void SessionShield::Adopt(SavedSessionLevels saved) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_saved = std::move(saved);
}

bool SessionShield::Pending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_saved.Empty();
}

void SessionShield::Lower(CoreAudioSessions& sessions) {
    if (Pending()) {
        Restore(sessions);
    }
    // Watching first, so that no session opened during the lowering is missed.
    if (!m_watch) {
        m_watch = sessions.Watch([this](const CoreAudioSession& s) { return OnCreated(s); });
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CoreAudioSession> listed;
    // Endpoints that cannot be read only keep their own sessions out.
    sessions.List(listed);
    bool added = false;
    for (const CoreAudioSession& session : listed) {
        if (session.processId != m_self && SavedSessionLevels::Storable(session)) {
            // Levels still waiting for a restore that failed are kept, not
            // replaced by the zeros it left.
            added = m_saved.Add(session) || added;
        }
    }
    if (m_saved.Empty()) {
        return;
    }
    if (added) {
        // A folder that cannot be written costs the crash protection only.
        m_file.Write(m_saved.ToText());
    }
    // A session that ended meanwhile is passed over; the others are lowered.
    sessions.Apply(
        [this](const CoreAudioSession& session) -> std::optional<CoreAudioSessions::Level> {
            if (session.processId == m_self || m_saved.Find(session) == nullptr) {
                return std::nullopt;
            }
            return CoreAudioSessions::Level{0.0f, session.muted};
        });
}

std::optional<CoreAudioSessions::Level> SessionShield::OnCreated(const CoreAudioSession& session) {
    if (session.processId == m_self || !SavedSessionLevels::Storable(session)) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_saved.Find(session) != nullptr) {
        return std::nullopt;  // listed by the lowering already
    }
    CoreAudioSession record = session;
    if (record.level == 0.0f) {
        // Started at the 0 Windows remembered from the lowering.
        if (const std::optional<float> level = m_saved.LevelFor(record.sessionId)) {
            record.level = *level;
        }
    }
    m_saved.Add(record);
    m_file.Write(m_saved.ToText());
    return CoreAudioSessions::Level{0.0f, session.muted};
}

bool SessionShield::Restore(CoreAudioSessions& sessions) {
    m_watch.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_saved.Empty()) {
        return true;
    }
    const bool back = sessions.Apply(
        [this](const CoreAudioSession& session) -> std::optional<CoreAudioSessions::Level> {
            if (session.processId == m_self) {
                return std::nullopt;
            }
            if (const CoreAudioSession* saved = m_saved.Find(session)) {
                return CoreAudioSessions::Level{saved->level, saved->muted};
            }
            if (session.level == 0.0f) {
                // Silent because Windows remembered the lowering's 0 for its
                // program (opened unseen, or since a crash).
                if (const std::optional<float> level = m_saved.LevelFor(session.sessionId)) {
                    return CoreAudioSessions::Level{*level, session.muted};
                }
            }
            return std::nullopt;
        });
    if (!back) {
        return false;  // the file stays for the next try
    }
    m_saved.Clear();
    m_file.Remove();
    return true;
}
