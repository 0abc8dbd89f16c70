#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Reads a zip archive (stored and deflated entries, 32-bit sizes) from a file
// or from memory. Serves the audio pack and the windows' skin archive.
struct ZipEntryInfo {
    size_t index = 0;
    std::string name;  // decoded to UTF-8 (UTF-8 flag or valid UTF-8, otherwise GBK)
    bool directory = false;
    bool readOnly = false;
    std::time_t modified = 0;  // UTC seconds
    std::time_t accessed = 0;
    std::time_t created = 0;
    uint32_t compressedSize = 0;
    uint32_t size = 0;
};

class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // False when the archive cannot be read or has no valid central directory.
    bool OpenFile(const std::string& path);
    bool OpenMemory(std::string bytes);

    const std::vector<ZipEntryInfo>& Entries() const;
    // Index of the entry with exactly this name, or -1.
    int Find(const std::string& name) const;
    // Inflates one entry and checks its CRC-32; false on any damage.
    bool Read(size_t index, std::string& data) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
