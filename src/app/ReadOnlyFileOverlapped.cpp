#include "app/ReadOnlyFile.h"

#include <windows.h>

#include "app/Helpers.h"

namespace {
HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

// By its wide name; shared for reading and deleting, as the pack may be
// replaced while it is read.
bool ReadOnlyFile::Open(const std::string& path) {
    Close();
    const HANDLE file =
        ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(file);
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
        Close();
        return false;
    }
    m_size = static_cast<uint64_t>(size.QuadPart);
    return true;
}

void ReadOnlyFile::Close() {
    if (m_handle != -1) {
        ::CloseHandle(AsHandle(m_handle));
        m_handle = -1;
    }
    m_size = 0;
}

bool ReadOnlyFile::IsOpen() const {
    return m_handle != -1;
}

// The offset travels with each read (OVERLAPPED), so reads from several
// threads do not share a file position.
bool ReadOnlyFile::ReadAt(uint64_t offset, size_t count, void* out) const {
    auto* dst = static_cast<char*>(out);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD got = 0;
        if (!::ReadFile(AsHandle(m_handle), dst, want, &got, &at) || got == 0) {
            return false;
        }
        dst += got;
        offset += got;
        count -= got;
    }
    return true;
}
