#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/AtomicFile.h"
#include "app/IniFile.h"

namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
    }
    return true;
}

struct Content {
    bool exists = false;
    bool readable = true;  // false: the file is there but could not be read
    bool bom = false;
    bool crlf = false;
    std::vector<std::string> lines;  // without line ends
};

Content Load(const std::string& path) {
    Content c;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // A missing file is the normal first start; anything else (no
        // permission, a folder in the way) must not pass for an empty file,
        // or the next write would replace the user's settings with one key.
        c.readable = errno == ENOENT;
        return c;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            c.readable = false;
            return c;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    c.exists = true;
    if (text.compare(0, kBom.size(), kBom) == 0) {
        c.bom = true;
        text.erase(0, kBom.size());
    }
    c.crlf = text.find("\r\n") != std::string::npos;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        c.lines.push_back(line);
        start = end + 1;
    }
    return c;
}

// Section name of a "[name]" line, or false.
bool SectionOf(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[') {
        return false;
    }
    const size_t close = t.find(']');
    name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// Key and value of a "key=value" line, or false.
bool PairOf(const std::string& line, std::string& key, std::string& value) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return true;
}

}  // namespace

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
    const Content c = Load(m_path);
    bool inSection = false;
    for (const auto& line : c.lines) {
        std::string name;
        if (SectionOf(line, name)) {
            inSection = EqualNoCase(name, section);
            continue;
        }
        std::string k, v;
        if (inSection && PairOf(line, k, v) && EqualNoCase(k, key)) {
            return v;
        }
    }
    return fallback;
}

bool IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) const {
    Content c = Load(m_path);
    if (!c.readable) {
        return false;
    }
    const std::string entry = key + "=" + value;
    bool inSection = false;
    bool sectionFound = false;
    size_t insertAt = 0;  // after the last non-blank line of the section
    bool written = false;
    for (size_t i = 0; i < c.lines.size() && !written; ++i) {
        std::string name;
        if (SectionOf(c.lines[i], name)) {
            if (inSection) {
                break;  // end of our section
            }
            inSection = EqualNoCase(name, section);
            if (inSection) {
                sectionFound = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        std::string k, v;
        if (PairOf(c.lines[i], k, v) && EqualNoCase(k, key)) {
            c.lines[i] = entry;
            written = true;
        } else if (!Trim(c.lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!written) {
        if (sectionFound) {
            c.lines.insert(c.lines.begin() + static_cast<long>(insertAt), entry);
        } else {
            while (!c.lines.empty() && Trim(c.lines.back()).empty()) {
                c.lines.pop_back();
            }
            c.lines.push_back("[" + section + "]");
            c.lines.push_back(entry);
        }
    }

    const char* eol = c.crlf || !c.exists ? "\r\n" : "\n";
    std::string text = c.bom ? kBom : std::string();
    for (const auto& line : c.lines) {
        text += line;
        text += eol;
    }
    // Replaced in one rename, so a failed write never leaves a half-written
    // settings file.
    return WriteFileAtomically(m_path, text);
}
