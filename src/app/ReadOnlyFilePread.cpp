#include "app/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

bool ReadOnlyFile::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    m_handle = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        return false;
    }
    m_size = static_cast<uint64_t>(st.st_size);
    return true;
}

void ReadOnlyFile::Close() {
    if (m_handle >= 0) {
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
    m_size = 0;
}

bool ReadOnlyFile::IsOpen() const {
    return m_handle >= 0;
}

bool ReadOnlyFile::ReadAt(uint64_t offset, size_t count, void* out) const {
    auto* dst = static_cast<char*>(out);
    while (count > 0) {
        const ssize_t n =
            ::pread(static_cast<int>(m_handle), dst, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        dst += n;
        offset += static_cast<uint64_t>(n);
        count -= static_cast<size_t>(n);
    }
    return true;
}
