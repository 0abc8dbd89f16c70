#include "voice/AnnouncementComposer.h"

#include <sys/stat.h>

#include <string_view>

#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "voice/MessageCodes.h"

namespace {

bool IsSeat(const std::string& seat) {
    if (seat.empty()) {
        return false;
    }
    for (const char c : seat) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

bool IsAllDigits(const std::string& text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.empty();
}

// The path of a server clip comes from the network and is appended to the base
// URL and, with its '/' replaced, used as a file name in the audio folder. Only
// plain absolute paths pass: an '@' would turn the base URL's host into user
// information and send the request elsewhere, a '\' or a ".." step could name a
// file outside the audio folder, and blanks or control bytes have no place in
// either a URL or a clip name.
bool IsSafeServerPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return false;
    }
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7f || c == '@' || c == '\\') {
            return false;
        }
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (std::string_view(path).substr(start, end - start) == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// The refused path goes into the log with its control bytes spelled out, so a
// line end inside it cannot forge a log line.
std::string Printable(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

AnnouncementComposer::AnnouncementComposer(Sink sink, WxOpen wxOpen, FetchClip fetchClip)
    : m_sink(std::move(sink)), m_wxOpen(std::move(wxOpen)), m_fetchClip(std::move(fetchClip)) {}

std::string AnnouncementComposer::DigitClip(int value) {
    return NumberClip(value);
}

void AnnouncementComposer::ReadNumber(const std::vector<int>& digits, Announcement& list) {
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        const int digit = digits[i];
        const size_t remaining = n - i;
        // A zero is spoken only between non-zero digits: "1 百 0 1", not "1 百 0 0".
        const bool silentZero = digit == 0 && (remaining == 1 || digits[i + 1] == 0);
        if (!silentZero) {
            list.push_back(DigitClip(digit));
        }
        if (digit != 0 && remaining >= 2 && remaining <= 4) {
            static const int kUnits[] = {10, 100, 1000};
            list.push_back(DigitClip(kUnits[remaining - 2]));
        }
    }
}

bool AnnouncementComposer::ComposeSeat(const std::string& key, const std::string& subject,
                                       Announcement& list) {
    const std::string seat = ToUpper(subject);
    if (!IsSeat(seat)) {
        return false;
    }
    std::vector<int> digits;
    if (IsAllDigits(seat)) {
        if (!SplitDigits(seat, digits)) {
            return false;
        }
    } else {
        std::vector<int> chars;
        if (!SplitChars(seat, chars)) {
            return false;
        }
        // Letters are not spoken: A12 and A1B2 both read as twelve.
        for (const int c : chars) {
            if (c - '0' >= 0 && c - '0' <= 9) {
                digits.push_back(c - '0');
            }
        }
    }
    if (const MessageCode* row = FindMessageCode(key)) {
        list.insert(list.end(), row->prefix.begin(), row->prefix.end());
    }
    if (!digits.empty()) {
        ReadNumber(digits, list);
    }
    return true;
}

void AnnouncementComposer::ComposeCommaMessage(const std::string& subject,
                                               const std::string& code) {
    if (subject == "2000") {
        return;
    }
    if (code == "200") {
        HandleCustomClip(subject);
        return;
    }
    Announcement list;
    if (code == "99") {
        for (const Promotion& promotion : Promotions()) {
            if (promotion.subject == subject) {
                list = promotion.clips;
            }
        }
        Queue(list);
        return;
    }
    const MessageCode* row = FindMessageCode(code);
    if (row == nullptr || row->commaEvent.empty()) {
        return;
    }
    // Logged-off notices only go out while the store has the feature on.
    if (row->needsWxOpen && !(m_wxOpen && m_wxOpen())) {
        return;
    }
    if (row->readsSeat && !ComposeSeat(code, subject, list)) {
        return;
    }
    list.insert(list.end(), row->commaEvent.begin(), row->commaEvent.end());
    Queue(list);
}

void AnnouncementComposer::ComposeDotMessage(const std::string& subject, const std::string& detail,
                                             const std::string& code) {
    const MessageCode* row = FindMessageCode(code);
    if (row == nullptr || row->dotName.empty()) {
        return;
    }
    Announcement list;
    if (row->readsSeat && !ComposeSeat(code, subject, list)) {
        return;
    }
    AppendDotEvent(*row, detail, list);
    Queue(list);
}

void AnnouncementComposer::AppendDotEvent(const MessageCode& row, const std::string& detail,
                                          Announcement& list) {
    const std::string name(row.dotName);
    try {
        LogHelper::GetInstance()->Info(name);
        list.push_back(row.dotFirst);
        if (row.spellsDetail) {
            // Each byte of the detail is read out as its own clip ("3" -> "3.wav").
            for (const char c : detail) {
                list.push_back(std::string(1, c) + ".wav");
            }
        }
        if (!row.dotLast.empty()) {
            list.push_back(row.dotLast);
        }
    } catch (...) {
        LogHelper::GetInstance()->Error("发生异常 AnnouncementComposer::" + name);
    }
}

void AnnouncementComposer::HandleCustomClip(const std::string& subject) {
    if (subject.empty()) {
        return;
    }
    if (!IsSafeServerPath(subject)) {
        LogHelper::GetInstance()->Error("服务器语音路径不合法，未下载: " + Printable(subject));
        return;
    }
    std::string localName = subject;
    ReplaceAll(localName, "/", "_");
    const std::string localPath = GetAudioDir() + localName;
    struct stat info {};
    if (::stat(localPath.c_str(), &info) != 0 && m_fetchClip) {
        // Fetched on first use; a failed fetch leaves no file, so the next
        // message naming the clip tries again. The clip is queued either way and
        // the player reports it if it is missing.
        m_fetchClip(subject, localPath, [sink = m_sink, localName] {
            if (sink) {
                sink(Announcement{localName});
            }
        });
        return;
    }
    Queue(Announcement{localName});
}

void AnnouncementComposer::Queue(const Announcement& list) {
    if (!list.empty() && m_sink) {
        m_sink(list);
    }
}
