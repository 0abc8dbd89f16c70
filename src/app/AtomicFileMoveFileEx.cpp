#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <utility>

#include "app/AtomicFile.h"
#include "app/Helpers.h"

// The same steps by the system's own calls and wide names: a new file beside
// the target, flushed to the disk, then moved over the target in one step
// that only returns once the move is on the disk too. The writer keeps the C
// runtime's descriptor of the file, which holds the system's handle. Windows
// files carry no permission bits: the new file gets what its folder hands
// down, and `mode` only matters for the read-only test of WriteFileAtomically.

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

FILETIME FileTimeOf(std::time_t time) {
    // 100-nanosecond steps since 1601-01-01.
    const unsigned long long ticks =
        (static_cast<unsigned long long>(time) + 11644473600ULL) * 10000000ULL;
    FILETIME result{};
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, int /*mode*/) : m_path(std::move(path)) {
    const std::string folder = FolderOf(m_path);
    // A name no other file has: tried until one is free, as mkstemps does.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(
            unique, sizeof(unique), "%06lx",
            static_cast<unsigned long>(
                (::GetTickCount64() + attempt * 7919ULL + ::GetCurrentProcessId()) & 0xffffff));
        std::string temporary = folder + ".voice-" + unique + ".tmp";
        HANDLE file = ::CreateFileW(Utf8ToWide(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
        if (fd < 0) {
            ::CloseHandle(file);
            ::DeleteFileW(Utf8ToWide(temporary).c_str());
            return;
        }
        m_fd = fd;
        m_temporary = std::move(temporary);
        return;
    }
}

AtomicFile::~AtomicFile() {
    Discard();
}

bool AtomicFile::Write(const char* data, size_t size) {
    while (IsOpen() && size > 0) {
        DWORD written = 0;
        const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!::WriteFile(HandleOf(m_fd), data, piece, &written, nullptr) || written == 0) {
            Discard();
            break;
        }
        data += written;
        size -= written;
    }
    return IsOpen();
}

bool AtomicFile::SetTimes(std::time_t accessed, std::time_t modified) {
    if (!IsOpen()) {
        return false;
    }
    const FILETIME access = FileTimeOf(accessed);
    const FILETIME write = FileTimeOf(modified);
    return ::SetFileTime(HandleOf(m_fd), nullptr, &access, &write) != FALSE;
}

bool AtomicFile::Commit() {
    if (!IsOpen()) {
        return false;
    }
    bool ok = ::FlushFileBuffers(HandleOf(m_fd)) != FALSE;
    ok = ::_close(m_fd) == 0 && ok;
    m_fd = -1;
    ok = ok && ::MoveFileExW(Utf8ToWide(m_temporary).c_str(), Utf8ToWide(m_path).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        Discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

void AtomicFile::Discard() {
    if (m_fd >= 0) {
        ::_close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::DeleteFileW(Utf8ToWide(m_temporary).c_str());
        m_temporary.clear();
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& content, int mode) {
    // A file its owner made read-only is refused, as writing it in place would be.
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    AtomicFile file(path, mode);
    return file.Write(content) && file.Commit();
}
