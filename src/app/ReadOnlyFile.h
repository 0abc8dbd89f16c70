#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A regular file opened for reading at any offset, from any thread at once
// (the zip reader's entries are read that way); closed by its holder.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // False when `path` (UTF-8) is missing, unreadable or not a regular file.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const;
    uint64_t Size() const { return m_size; }
    // Exactly `count` bytes from `offset`, or false.
    bool ReadAt(uint64_t offset, size_t count, void* out) const;

private:
    intptr_t m_handle = -1;
    uint64_t m_size = 0;
};
