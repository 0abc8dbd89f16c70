#pragma once

// Writes real zip archives for tests, including the malformed ones a reader
// must survive: wrong CRCs, unknown methods, headers that disagree, odd host
// systems and attributes, extended-timestamp blocks. Header-only so that only
// the tests that include it need zlib.

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testzip {

struct Entry {
    std::string name;  // raw bytes as stored
    std::string data;  // uncompressed content
    uint16_t method = 8;
    std::optional<uint16_t> localMethod;  // differs from `method` when set
    uint16_t flags = 0x0800;              // UTF-8 name
    uint16_t versionMadeBy = (3 << 8) | 20;
    uint32_t externalAttributes = 0100644u << 16;    // Unix regular file, rw-r--r--
    uint16_t dosDate = (39 << 9) | (3 << 5) | 12;    // 2019-03-12
    uint16_t dosTime = (10 << 11) | (20 << 5) | 15;  // 10:20:30
    std::string localExtra;
    std::string centralExtra;
    std::optional<uint32_t> crc;  // stored CRC-32 instead of the real one
};

inline void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

inline void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

inline std::string RawDeflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

inline uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// An extended-timestamp ("UT") extra block with the times whose flag bit is set.
inline std::string UtBlock(uint8_t flags, const std::vector<uint32_t>& times) {
    std::string body(1, static_cast<char>(flags));
    for (uint32_t t : times) {
        Put32(body, t);
    }
    std::string out;
    Put16(out, 0x5455);
    Put16(out, static_cast<uint32_t>(body.size()));
    return out + body;
}

inline std::string Build(const std::vector<Entry>& entries, const std::string& comment = {}) {
    std::string archive;
    std::string directory;
    for (const Entry& e : entries) {
        const std::string payload = e.method == 8 ? RawDeflate(e.data) : e.data;
        const uint32_t crc = e.crc.value_or(Crc32(e.data));
        const auto offset = static_cast<uint32_t>(archive.size());

        Put32(archive, 0x04034b50);
        Put16(archive, 20);
        Put16(archive, e.flags);
        Put16(archive, e.localMethod.value_or(e.method));
        Put16(archive, e.dosTime);
        Put16(archive, e.dosDate);
        Put32(archive, crc);
        Put32(archive, static_cast<uint32_t>(payload.size()));
        Put32(archive, static_cast<uint32_t>(e.data.size()));
        Put16(archive, static_cast<uint32_t>(e.name.size()));
        Put16(archive, static_cast<uint32_t>(e.localExtra.size()));
        archive += e.name + e.localExtra + payload;

        Put32(directory, 0x02014b50);
        Put16(directory, e.versionMadeBy);
        Put16(directory, 20);
        Put16(directory, e.flags);
        Put16(directory, e.method);
        Put16(directory, e.dosTime);
        Put16(directory, e.dosDate);
        Put32(directory, crc);
        Put32(directory, static_cast<uint32_t>(payload.size()));
        Put32(directory, static_cast<uint32_t>(e.data.size()));
        Put16(directory, static_cast<uint32_t>(e.name.size()));
        Put16(directory, static_cast<uint32_t>(e.centralExtra.size()));
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, e.externalAttributes);
        Put32(directory, offset);
        directory += e.name + e.centralExtra;
    }
    const auto directoryOffset = static_cast<uint32_t>(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put32(archive, static_cast<uint32_t>(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, static_cast<uint32_t>(comment.size()));
    archive += comment;
    return archive;
}

}  // namespace testzip
