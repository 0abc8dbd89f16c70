#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/ModuleDir.h"

std::wstring ModuleDir::ExecutablePath() const {
    // A path longer than MAX_PATH fills the buffer and is read again, larger;
    // past the longest path the system allows, there is none to give.
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= 32768) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (n == 0) {
            return {};
        }
        if (n < size) {
            // The program joins its paths with '/', which Windows takes too.
            std::wstring path(buffer.data(), n);
            std::replace(path.begin(), path.end(), L'\\', L'/');
            return path;
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}
