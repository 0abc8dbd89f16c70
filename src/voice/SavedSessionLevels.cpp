#include "voice/SavedSessionLevels.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace {
constexpr const char* kTag = "session";

bool Plain(const std::string& text) {
    return text.find_first_of("\t\r\n") == std::string::npos;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

template <typename T>
bool ReadNumber(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}
}  // namespace

const CoreAudioSession* SavedSessionLevels::Find(const CoreAudioSession& session) const {
    const auto it = std::find_if(sessions.begin(), sessions.end(),
                                 [&](const CoreAudioSession& s) { return s.SameAs(session); });
    return it == sessions.end() ? nullptr : &*it;
}

bool SavedSessionLevels::Add(const CoreAudioSession& session) {
    if (Find(session) != nullptr) {
        return false;
    }
    sessions.push_back(session);
    return true;
}

std::optional<float> SavedSessionLevels::LevelFor(const std::string& sessionId) const {
    if (sessionId.empty()) {
        return std::nullopt;
    }
    for (const CoreAudioSession& s : sessions) {
        if (s.sessionId == sessionId) {
            return s.level;
        }
    }
    return std::nullopt;
}

bool SavedSessionLevels::Storable(const CoreAudioSession& session) {
    return !session.instanceId.empty() && Plain(session.instanceId) && Plain(session.sessionId);
}

std::string SavedSessionLevels::ToText() const {
    std::string text;
    for (const CoreAudioSession& s : sessions) {
        char level[32];
        // Shortest text that reads back as the same float.
        const auto end = std::to_chars(level, level + sizeof level, s.level).ptr;
        text += std::string(kTag) + '\t' + std::to_string(s.processId) + '\t' +
                std::string(level, end) + '\t' + (s.muted ? "1" : "0") + '\t' + s.instanceId +
                '\t' + s.sessionId + '\n';
    }
    return text;
}

SavedSessionLevels SavedSessionLevels::FromText(const std::string& text) {
    SavedSessionLevels saved;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // edited by hand with a Windows editor
        }
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() != 6 || fields[0] != kTag) {
            continue;
        }
        CoreAudioSession s;
        if (!ReadNumber(fields[1], s.processId) || !ReadNumber(fields[2], s.level) ||
            !std::isfinite(s.level) || s.level < 0.0f || s.level > 1.0f ||
            (fields[3] != "0" && fields[3] != "1") || fields[4].empty()) {
            continue;
        }
        s.muted = fields[3] == "1";
        s.instanceId = fields[4];
        s.sessionId = fields[5];
        saved.Add(s);
    }
    return saved;
}
