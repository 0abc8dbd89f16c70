#include "app/Helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "app/ModuleDir.h"

std::wstring GetModuleDir() {
    const std::wstring path = ModuleDir::Instance().ExecutablePath();
    const size_t slash = path.find_last_of(L'/');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string GetAudioDir() {
    return WideToAnsi(GetModuleDir()) + "Audio/";
}

std::wstring GetFileVersionText(const std::wstring& path) {
    // Linux executables carry no version resource; the build compiles the
    // version into the program, so only the running program has one.
    if (!path.empty() && path == ModuleDir::Instance().ExecutablePath()) {
        return Utf8ToWide(VOICE_VERSION);
    }
    return L"unknown";
}

std::string GetAppVersion() {
    return WideToUtf8(GetFileVersionText(ModuleDir::Instance().ExecutablePath()));
}

void FormatAdapterInfo(const std::vector<NetworkAdapter>& adapters, std::string& mac,
                       std::string& ip) {
    bool first = true;
    for (const auto& a : adapters) {
        // Loopback and tunnels have no hardware address (or one of zeros);
        // the old program tested only the first byte, and so do we.
        if (a.name.empty() || a.hardware.empty() || a.hardware[0] == 0) {
            continue;
        }
        if (!first) {
            mac += ", ";
        }
        first = false;
        for (size_t i = 0; i < a.hardware.size(); ++i) {
            char byte[3];
            std::snprintf(byte, sizeof(byte), "%02x", a.hardware[i]);
            mac += byte;
            if (i + 1 < a.hardware.size()) {
                mac += '-';
            }
        }
        for (const auto& address : a.ipv4) {
            if (address == "0.0.0.0") {
                continue;
            }
            if (!ip.empty()) {
                ip += ',';
            }
            ip += address;
        }
    }
}

bool GetAdapterInfo(std::string& mac, std::string& ip) {
    FormatAdapterInfo(ReadNetworkAdapters(), mac, ip);
    return true;
}

std::wstring Utf8ToWide(const std::string& text) {
    // Cut at an embedded NUL, as the C-string conversions of the old program
    // did; invalid sequences become U+FFFD.
    std::wstring out;
    const size_t n = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0;
        size_t len = 0;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            len = 4;
        } else {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        bool valid = i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) {
                valid = false;
            } else {
                cp = (cp << 6) | (cc & 0x3F);
            }
        }
        if (valid && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) {
            valid = false;
        }
        if (!valid) {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    for (const wchar_t wc : text) {
        uint32_t cp = static_cast<uint32_t>(wc);
        if (cp == 0) {
            break;
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring AnsiToWide(const std::string& text) {
    return Utf8ToWide(text);
}

std::string WideToAnsi(const std::wstring& text) {
    return WideToUtf8(text);
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return;
    }
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string ToUpper(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool SplitDigits(const std::string& text, std::vector<int>& digits) {
    digits.clear();
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        digits.push_back(c - '0');
    }
    return true;
}

bool SplitChars(const std::string& text, std::vector<int>& chars) {
    chars.clear();
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        chars.push_back(static_cast<int>(static_cast<signed char>(c)));
    }
    return true;
}
