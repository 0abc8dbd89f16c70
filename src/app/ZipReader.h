#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Reads a zip archive (stored and deflated entries, 32-bit sizes) from a file
// or from memory. Serves the audio pack and the windows' skin archive.
struct ZipEntryInfo {
    size_t index = 0;
    // Decoded to UTF-8: as UTF-8 when flagged; otherwise archives made on DOS or
    // Windows are read as GBK first and others as UTF-8 first.
    std::string name;
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
    // Receives inflated data in pieces of at most kPieceSize bytes; returning
    // false stops the read (and makes it fail).
    using Sink = std::function<bool(const char* data, size_t size)>;
    static constexpr size_t kPieceSize = 16384;

    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // False when the archive cannot be read or has no valid central directory.
    // Opening again replaces what was open.
    bool OpenFile(const std::string& path);
    bool OpenMemory(std::string bytes);

    const std::vector<ZipEntryInfo>& Entries() const;
    // Index of the first entry with exactly this name, or -1.
    int Find(const std::string& name) const;
    // Like Find, but '\' and '/' count as the same separator and ASCII letters
    // match in either case (archives made on other systems spell paths loosely).
    int FindPath(const std::string& path) const;
    // Inflates one entry and checks its size and CRC-32; false on any damage,
    // an unsupported method or encrypted data. `data` is left empty on failure.
    bool Read(size_t index, std::string& data) const;
    // Streams one entry into `sink`. The pieces are handed over before the
    // CRC-32 can be known, so a false result means everything delivered so far
    // must be thrown away.
    bool ReadTo(size_t index, const Sink& sink) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
