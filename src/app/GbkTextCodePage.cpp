#include "app/GbkText.h"

#include <windows.h>

#include <string>

namespace {
constexpr UINT kGb18030 = 54936;

// One GB18030 sequence is 1, 2 or 4 bytes: the longest prefix of `bytes`
// from `at` that decodes on its own, or 0 when none does.
int SequenceAt(const std::string& bytes, size_t at, std::wstring& wide) {
    for (int length : {1, 2, 4}) {
        if (at + static_cast<size_t>(length) > bytes.size()) {
            break;
        }
        wchar_t buffer[4];
        const int n = ::MultiByteToWideChar(kGb18030, MB_ERR_INVALID_CHARS, bytes.data() + at,
                                            length, buffer, 4);
        if (n > 0) {
            wide.append(buffer, static_cast<size_t>(n));
            return length;
        }
    }
    return 0;
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}
}  // namespace

// The system's own GB18030 code page, decoded a sequence at a time so that a
// byte that fits nothing is found, as iconv finds it on Linux.
bool GbkToUtf8(const std::string& bytes, bool strict, std::string& out) {
    out.clear();
    std::wstring wide;
    bool clean = true;
    for (size_t at = 0; at < bytes.size();) {
        const int length = SequenceAt(bytes, at, wide);
        if (length > 0) {
            at += static_cast<size_t>(length);
            continue;
        }
        clean = false;
        if (strict) {
            break;
        }
        wide += L'\xFFFD';
        ++at;
    }
    out = ToUtf8(wide);
    return clean;
}
