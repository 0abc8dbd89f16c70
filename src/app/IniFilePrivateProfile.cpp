#include <windows.h>

#include <vector>

#include "app/Helpers.h"
#include "app/IniFile.h"

// The system's own private-profile functions: they already keep the rules
// the settings rely on (names without regard to case, the default for a
// missing key, creating file, section or key on write, other lines kept).
// The path is always absolute here: a bare name would be looked for in the
// Windows folder.

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
    const std::wstring wideSection = Utf8ToWide(section);
    const std::wstring wideKey = Utf8ToWide(key);
    const std::wstring wideFallback = Utf8ToWide(fallback);
    const std::wstring widePath = Utf8ToWide(m_path);
    // The call says nothing of a value longer than the buffer but that it
    // filled it to one short of its end; such a value is read again, larger.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD got =
            ::GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideFallback.c_str(),
                                       buffer.data(), size, widePath.c_str());
        if (got + 1 < size || buffer.size() >= 1u << 20) {
            return WideToUtf8(std::wstring(buffer.data(), got));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) const {
    return ::WritePrivateProfileStringW(Utf8ToWide(section).c_str(), Utf8ToWide(key).c_str(),
                                        Utf8ToWide(value).c_str(),
                                        Utf8ToWide(m_path).c_str()) != FALSE;
}
