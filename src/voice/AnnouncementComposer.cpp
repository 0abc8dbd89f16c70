#include "voice/AnnouncementComposer.h"

#include <sys/stat.h>

#include <string_view>

#include "api/BaseUrl.h"
#include "api/HttpClient.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "voice/PlayHelper.h"

namespace {

const char* const kStaff = "工作人员请注意.wav";
const char* const kChime = "提示音.wav";
const char* const kChimeB = "提示音b.wav";
const char* const kChime2 = "提示音2.wav";

// Code -> the one clip that names a product or recharge event after the seat.
const std::map<std::string, std::string>& ProductTable() {
    static const std::map<std::string, std::string> table = {
        {"0", "号机已购买商品请网管尽快送到.wav"},
        {"1", "号机已在线付款充值网费请及时处理.wav"},
        {"2", "英雄联盟特权.mp3"},
        {"3", "吃鸡特权.mp3"},
        {"5", "号机已购买商品请尽快送到.wav"},
        {"6", "号机已充值网费请及时处理.wav"},
        {"7", "号机已在线付款购买商品请尽快送到.wav"},
        {"8", "号机已在线付款充值网费请及时处理.wav"},
    };
    return table;
}

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

AnnouncementComposer::AnnouncementComposer(Sink sink) : m_sink(std::move(sink)) {
    // The table is fixed data; filling it here means a composer is never used
    // half built, and the main window's own call just fills it again.
    BuildPrefixTable();
}

void AnnouncementComposer::BuildPrefixTable() {
    m_prefixTable = {
        {"101", {kStaff}},
        {"102", {kStaff}},
        {"103", {kStaff}},
        {"104", {kStaff}},
        {"0", {kChime, kStaff}},
        {"1", {kChimeB, kStaff}},
        {"2", {kChime2, "哇哦.mp3"}},
        {"3", {kChime2}},
        {"5", {kChime, kStaff}},
        {"6", {kChimeB, kStaff}},
        {"7", {kChime, kStaff}},
        {"8", {kChimeB, kStaff}},
    };
}

std::string AnnouncementComposer::DigitClip(int value) {
    if (value >= 0 && value <= 9) {
        return std::to_string(value) + ".wav";
    }
    switch (value) {
        case 10:
            return "十.wav";
        case 100:
            return "百.wav";
        case 1000:
            return "千.wav";
        default:
            return {};
    }
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
    if (const auto prefix = m_prefixTable.find(key); prefix != m_prefixTable.end()) {
        list.insert(list.end(), prefix->second.begin(), prefix->second.end());
    }
    if (!digits.empty()) {
        ReadNumber(digits, list);
    }
    return true;
}

void AnnouncementComposer::ComposeCommaMessage(const std::string& subject,
                                               const std::string& code) {
    Announcement list;
    if (subject == "2000") {
        return;
    }
    if (code == "200") {
        HandleCustomClip(subject, list);
    } else if (code == "99") {
        HandlePromotion(subject, list);
    } else if (code == "130") {
        list.push_back("wxts.mp3");
    } else if (code == "98") {
        list = {kChime, "用餐时间.mp3"};
    } else if (code == "101") {
        ComposeSeatEvent(code, subject, "号机需要服务员帮助.mp3", list);
    } else if (code == "102") {
        ComposeSeatEvent(code, subject, "号机需要保洁员帮助.mp3", list);
    } else if (code == "103") {
        ComposeSeatEvent(code, subject, "号机需要技术员帮助.mp3", list);
    } else if (code == "104") {
        // Logged-off notices only go out while the store has the feature on.
        if (IniHelper::GetInstance()->Settings().wxOpen) {
            ComposeSeatEvent(code, subject, "号机已下机请保洁员及时清理桌面.wav", list);
        }
    } else if (code == "download") {
        return;
    } else {
        HandleProduct(code, subject, list);
    }
    Queue(list);
}

void AnnouncementComposer::ComposeDotMessage(const std::string& subject, const std::string& detail,
                                             const std::string& code) {
    static const char* const kDotCodes[] = {"6", "7", "8", "9", "10", "11"};
    bool known = false;
    for (const char* c : kDotCodes) {
        known = known || code == c;
    }
    if (!known) {
        return;
    }
    Announcement list;
    if (!ComposeSeat(code, subject, list)) {
        return;
    }
    if (code == "6") {
        HandleCashPay(list, detail);
    } else if (code == "7") {
        HandleOnlinePay(list, detail);
    } else if (code == "8") {
        HandleCallAdmin(list, detail);
    } else if (code == "9") {
        HandlePlaceOrder(list);
    } else if (code == "10") {
        HandleBuyOther(list);
    } else {
        HandlePayOther(list);
    }
    Queue(list);
}

bool AnnouncementComposer::ComposeSeatEvent(const std::string& key, const std::string& subject,
                                            const char* eventClip, Announcement& list) {
    if (!ComposeSeat(key, subject, list)) {
        list.clear();
        return false;
    }
    list.push_back(eventClip);
    return true;
}

bool AnnouncementComposer::HandlePromotion(const std::string& subject, Announcement& list) {
    if (subject == "CX_START") {
        list.insert(list.end(), {kChime, "促销开始.mp3"});
    } else if (subject == "CX_ADV_END") {
        // The end notice speaks "thirty" between its two halves.
        list.insert(list.end(), {kChime, "结束1.mp3", "3.wav", "十.wav", "结束2.mp3"});
    }
    return true;
}

bool AnnouncementComposer::HandleProduct(const std::string& code, const std::string& subject,
                                         Announcement& list) {
    const auto& products = ProductTable();
    const auto product = products.find(code);
    if (!ComposeSeat(code, subject, list) || product == products.end()) {
        list.clear();
        return false;
    }
    list.push_back(product->second);
    return true;
}

bool AnnouncementComposer::HandleCustomClip(const std::string& subject, Announcement& list) {
    if (subject.empty()) {
        return false;
    }
    if (!IsSafeServerPath(subject)) {
        LogHelper::GetInstance()->Error("服务器语音路径不合法，未下载: " + Printable(subject));
        return false;
    }
    std::string localName = subject;
    ReplaceAll(localName, "/", "_");
    const std::string localPath = GetAudioDir() + localName;
    struct stat info {};
    if (::stat(localPath.c_str(), &info) != 0) {
        // Fetched on first use; a failed download leaves no file, so the next
        // message naming the clip tries again. The clip is queued either way and
        // the player reports it if it is missing.
        CreateDirs(localPath);
        DownloadFile(GetBaseUrl() + subject, localPath);
    }
    list.push_back(localName);
    return true;
}

bool AnnouncementComposer::AppendDetailEvent(const char* name, const char* first,
                                             const std::string& detail, const char* last,
                                             Announcement& list) {
    try {
        LogHelper::GetInstance()->Info(name);
        list.push_back(first);
        // Each byte of the detail is read out as its own clip ("3" -> "3.wav").
        for (const char c : detail) {
            list.push_back(std::string(1, c) + ".wav");
        }
        list.push_back(last);
        return true;
    } catch (...) {
        LogHelper::GetInstance()->Error(std::string("发生异常 AnnouncementComposer::") + name);
        return false;
    }
}

bool AnnouncementComposer::AppendFixedEvent(const char* name, const char* clip,
                                            Announcement& list) {
    try {
        LogHelper::GetInstance()->Info(name);
        list.push_back(clip);
        return true;
    } catch (...) {
        LogHelper::GetInstance()->Error(std::string("发生异常 AnnouncementComposer::") + name);
        return false;
    }
}

bool AnnouncementComposer::HandleCashPay(Announcement& list, const std::string& detail) {
    return AppendDetailEvent("HandleCashPay", "cashPay.wav", detail, "waiter.wav", list);
}

bool AnnouncementComposer::HandleOnlinePay(Announcement& list, const std::string& detail) {
    return AppendDetailEvent("HandleOnlinePay", "onlinePay.wav", detail, "waiter.wav", list);
}

bool AnnouncementComposer::HandleCallAdmin(Announcement& list, const std::string& detail) {
    return AppendDetailEvent("HandleCallAdmin", "callAdmin.wav", detail, "quick.wav", list);
}

bool AnnouncementComposer::HandlePlaceOrder(Announcement& list) {
    return AppendFixedEvent("HandlePlaceOrder", "placeorder.wav", list);
}

bool AnnouncementComposer::HandleBuyOther(Announcement& list) {
    return AppendFixedEvent("HandleBuyOther", "buyOther.wav", list);
}

bool AnnouncementComposer::HandlePayOther(Announcement& list) {
    return AppendFixedEvent("HandlePayOther", "payOther.wav", list);
}

void AnnouncementComposer::Queue(const Announcement& list) {
    if (list.empty()) {
        return;
    }
    if (m_sink) {
        m_sink(list);
        return;
    }
    if (PlayHelper* player = PlayHelper::GetInstance()) {
        player->Enqueue(list);
    }
}
