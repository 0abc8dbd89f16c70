#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// Replaces one file so that a reader, a crash or a full disk only ever leaves
// the old file or the new one, never a mix: the bytes go to a temporary file
// beside the target (".voice-XXXXXX.tmp" in its folder, short whatever the
// target's own name is), are flushed to the disk, and take the old file's
// place in one rename, after which the folder is flushed too. Written in
// pieces, so a download or a packed clip is never held whole in memory.
// Dropped before Commit, or after a failed one, it removes its temporary file
// and leaves the old file as it was.
class AtomicFile {
public:
    // Opens the temporary file. It gets `mode`, or when that is negative the
    // target's present permissions (0644 when there is no target yet).
    explicit AtomicFile(std::string path, int mode = -1);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False when the temporary file could not be made, or after a failure.
    bool IsOpen() const { return m_fd >= 0; }
    // Appends the bytes; false (and the writer unusable) when they could not
    // all be written.
    bool Write(const char* data, size_t size);
    bool Write(const std::string& data) { return Write(data.data(), data.size()); }
    // Access and modification times the new file carries.
    bool SetTimes(std::time_t accessed, std::time_t modified);
    // Flushes the new file to the disk and renames it over the target. False
    // when any step fails; the target is then untouched and no temporary left.
    bool Commit();

private:
    void Discard();

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
};

// The whole of `content` as the file at `path`, through AtomicFile. An existing
// file this process may not write (made read-only by its owner) is refused
// rather than replaced, as writing it in place would be; the rename itself
// would only need the folder to be writable.
bool WriteFileAtomically(const std::string& path, const std::string& content, int mode = -1);
