#include "app/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// The rename is only durable once the folder that records it is on the disk.
bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

AtomicFile::AtomicFile(std::string path, int mode) : m_path(std::move(path)) {
    const std::string suffix = ".tmp";
    std::string temporary = FolderOf(m_path) + ".voice-XXXXXX" + suffix;
    const int fd = ::mkostemps(temporary.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    m_fd = fd;
    m_temporary = std::move(temporary);
    if (mode < 0) {
        struct stat old {};
        mode = ::stat(m_path.c_str(), &old) == 0 ? static_cast<int>(old.st_mode & 07777) : 0644;
    }
    if (::fchmod(m_fd, static_cast<mode_t>(mode)) != 0) {
        Discard();
    }
}

AtomicFile::~AtomicFile() {
    Discard();
}

bool AtomicFile::Write(const char* data, size_t size) {
    while (IsOpen() && size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Discard();
            break;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return IsOpen();
}

bool AtomicFile::SetTimes(std::time_t accessed, std::time_t modified) {
    const struct timespec times[2] = {{accessed, 0}, {modified, 0}};
    return IsOpen() && ::futimens(m_fd, times) == 0;
}

bool AtomicFile::Commit() {
    if (!IsOpen()) {
        return false;
    }
    bool ok = ::fsync(m_fd) == 0;
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    ok = ok && std::rename(m_temporary.c_str(), m_path.c_str()) == 0;
    if (!ok) {
        Discard();
        return false;
    }
    m_temporary.clear();
    // The new file is in place either way; a folder that cannot be flushed
    // (a file system without the call) does not undo that.
    SyncFolder(FolderOf(m_path));
    return true;
}

void AtomicFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

bool WriteFileAtomically(const std::string& path, const std::string& content, int mode) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        return false;
    }
    AtomicFile file(path, mode);
    return file.Write(content) && file.Commit();
}
