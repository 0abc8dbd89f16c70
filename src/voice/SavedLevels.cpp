#include "voice/SavedLevels.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <vector>

namespace {
// Keys and devices are the server's free text: a tab, a line end or a
// backslash in them is written as \t, \n or \\.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string JoinVolume(const std::vector<uint32_t>& volume) {
    std::string out;
    for (uint32_t value : volume) {
        out += (out.empty() ? "" : ",") + std::to_string(value);
    }
    return out;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && last == end && !text.empty();
}

bool ParseVolume(const std::string& text, std::vector<uint32_t>& volume) {
    volume.clear();
    if (text.empty()) {
        return true;
    }
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        uint32_t value = 0;
        if (!ParseNumber(part, value)) {
            return false;
        }
        volume.push_back(value);
    }
    return true;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == '\t') {
        fields.emplace_back();
    }
    return fields;
}
}  // namespace

std::vector<uint32_t> FitChannels(const std::vector<uint32_t>& saved, size_t channels) {
    if (saved.size() == channels) {
        return saved;
    }
    const uint32_t loudest = saved.empty() ? 0 : *std::max_element(saved.begin(), saved.end());
    return std::vector<uint32_t>(channels, loudest);
}

void SavedLevels::Clear() {
    streams.clear();
    remembered.clear();
}

std::vector<uint32_t> SavedLevels::LevelFor(const std::string& key, size_t channels) const {
    if (key.empty()) {
        return {};
    }
    if (const auto it = remembered.find(key);
        it != remembered.end() && !it->second.volume.empty()) {
        return FitChannels(it->second.volume, channels);
    }
    for (const auto& [index, stream] : streams) {
        if (stream.restoreKey == key) {
            return FitChannels(stream.volume, channels);
        }
    }
    return {};
}

std::string SavedLevels::ToText() const {
    std::string text =
        "# Other programs' audio levels, saved by Voice before an announcement lowered them.\n"
        "# Given back at the next start of Voice; the file is removed once they are back.\n"
        "# Volumes per channel, 65536 = 100 %. Fields are separated by tabs.\n"
        "# stream\t<index>\t<process id>\t<volume>\t<channels>\t<restore key>\n"
        "# remembered\t<volume, empty: none>\t<channels>\t<muted 0/1>\t<device>\t<restore key>\n";
    for (const auto& [index, stream] : streams) {
        text += "stream\t" + std::to_string(stream.index) + "\t" +
                std::to_string(stream.processId) + "\t" + JoinVolume(stream.volume) + "\t" +
                Escape(stream.channelMap) + "\t" + Escape(stream.restoreKey) + "\n";
    }
    for (const auto& [key, level] : remembered) {
        text += "remembered\t" + JoinVolume(level.volume) + "\t" + Escape(level.channelMap) + "\t" +
                (level.muted ? "1" : "0") + "\t" + Escape(level.device) + "\t" + Escape(level.key) +
                "\n";
    }
    return text;
}

SavedLevels SavedLevels::FromText(const std::string& text) {
    SavedLevels saved;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string> fields = Fields(line);
        if (fields.size() == 6 && fields[0] == "stream") {
            PulseStream stream;
            if (ParseNumber(fields[1], stream.index) && ParseNumber(fields[2], stream.processId) &&
                ParseVolume(fields[3], stream.volume) && !stream.volume.empty()) {
                stream.channelMap = Unescape(fields[4]);
                stream.restoreKey = Unescape(fields[5]);
                saved.streams[stream.index] = std::move(stream);
            }
        } else if (fields.size() == 6 && fields[0] == "remembered" &&
                   (fields[3] == "0" || fields[3] == "1") && !fields[5].empty()) {
            RememberedLevel level;
            if (ParseVolume(fields[1], level.volume)) {
                level.channelMap = Unescape(fields[2]);
                level.muted = fields[3] == "1";
                level.device = Unescape(fields[4]);
                level.key = Unescape(fields[5]);
                saved.remembered[level.key] = std::move(level);
            }
        }
    }
    return saved;
}
