#include "app/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "app/GbkText.h"
#include "app/ReadOnlyFile.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kExtendedTimestampTag = 0x5455;  // "UT"

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        size_t extra = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (n - i <= extra) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool IsDosHost(uint8_t host) {
    return host == 0 || host == 7 || host == 11 || host == 14;
}

// Short GBK names are often valid UTF-8 as well (十 is CA AE in GBK, which
// UTF-8 reads as U+02AE), so the system the archive was made on decides which
// reading comes first when the UTF-8 flag is not set.
std::string DecodeName(const std::string& bytes, uint16_t flags, uint8_t host) {
    std::string decoded;
    if (flags & kFlagUtf8Name) {
        if (IsValidUtf8(bytes)) {
            return bytes;
        }
        // Marked UTF-8 but broken: keep the ASCII parts, mark the rest.
        for (unsigned char c : bytes) {
            if (c < 0x80) {
                decoded += static_cast<char>(c);
            } else {
                decoded += "\xEF\xBF\xBD";
            }
        }
        return decoded;
    }
    if (IsDosHost(host) && GbkToUtf8(bytes, true, decoded)) {
        return decoded;
    }
    if (IsValidUtf8(bytes)) {
        return bytes;
    }
    GbkToUtf8(bytes, false, decoded);
    return decoded;
}

// DOS date and time are the local time of the machine that made the archive.
std::time_t DosTimeToUtc(uint16_t date, uint16_t time) {
    std::tm tm{};
    tm.tm_year = 80 + (date >> 9);
    tm.tm_mon = ((date >> 5) & 0x0F) - 1;
    tm.tm_mday = date & 0x1F;
    tm.tm_hour = time >> 11;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

// Applies the first extended-timestamp block of an extra field: its flag byte
// says which of modification, access and creation time follow, in that order.
void ApplyExtendedTimestamp(const unsigned char* extra, size_t size, ZipEntryInfo& info) {
    size_t pos = 0;
    while (pos + 4 <= size) {
        const uint16_t tag = Le16(extra + pos);
        const uint16_t length = Le16(extra + pos + 2);
        const size_t body = pos + 4;
        if (body + length > size) {
            return;
        }
        if (tag == kExtendedTimestampTag) {
            if (length < 1) {
                return;
            }
            const unsigned char flags = extra[body];
            size_t at = body + 1;
            std::time_t* targets[] = {&info.modified, &info.accessed, &info.created};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1u << bit))) {
                    continue;
                }
                if (at + 4 > body + length) {
                    return;
                }
                *targets[bit] = static_cast<std::time_t>(Le32(extra + at));
                at += 4;
            }
            return;
        }
        pos = body + length;
    }
}

void ApplyAttributes(uint16_t versionMadeBy, uint32_t external, ZipEntryInfo& info) {
    const auto host = static_cast<uint8_t>(versionMadeBy >> 8);
    // Some Unix-side writers leave the mode word empty and keep only the DOS
    // bits; reading that as "no owner write" would make every file read-only.
    if (IsDosHost(host) || (external >> 16) == 0) {
        info.readOnly = (external & 0x01) != 0;
        info.directory = (external & 0x10) != 0;
    } else {
        info.readOnly = (external & 0x00800000) == 0;
        info.directory = (external & 0x40000000) != 0;
    }
    // A name ending in a separator cannot be a file, whatever the attributes say.
    if (!info.name.empty() && (info.name.back() == '/' || info.name.back() == '\\')) {
        info.directory = true;
    }
}

std::string NormalizePath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = ::inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready) {
            ::inflateEnd(&stream);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

}  // namespace

struct ZipReader::Impl {
    struct Record {
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint32_t localOffset = 0;
    };

    std::string memory;
    ReadOnlyFile file;
    uint64_t size = 0;
    std::vector<ZipEntryInfo> entries;
    std::vector<Record> records;

    Impl() = default;
    ~Impl() { CloseFile(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void CloseFile() { file.Close(); }

    void Clear() {
        CloseFile();
        memory.clear();
        size = 0;
        entries.clear();
        records.clear();
    }

    bool ReadAt(uint64_t offset, size_t count, void* out) const {
        if (offset > size || count > size - offset) {
            return false;
        }
        if (!file.IsOpen()) {
            std::memcpy(out, memory.data() + offset, count);
            return true;
        }
        return file.ReadAt(offset, count, out);
    }

    // Finds the end-of-central-directory record and reads every entry of the
    // central directory. Any inconsistency rejects the whole archive.
    bool Load() {
        if (size < kEndRecordSize) {
            return false;
        }
        const uint64_t tail = std::min<uint64_t>(size, kEndRecordSize + kMaxCommentSize);
        std::string buffer(static_cast<size_t>(tail), '\0');
        if (!ReadAt(size - tail, buffer.size(), buffer.data())) {
            return false;
        }
        const auto* b = reinterpret_cast<const unsigned char*>(buffer.data());
        // The comment may itself hold what looks like an end record; the real
        // one is the one whose directory reads back. A few tries are plenty.
        int attempts = 8;
        for (size_t pos = buffer.size() - kEndRecordSize + 1; pos-- > 0 && attempts > 0;) {
            if (Le32(b + pos) != kEndSignature) {
                continue;
            }
            const uint16_t commentSize = Le16(b + pos + 20);
            if (pos + kEndRecordSize + commentSize > buffer.size()) {
                continue;  // cannot be the record: its comment would overrun the file
            }
            if (LoadDirectory(size - tail + pos, b + pos)) {
                return true;
            }
            entries.clear();
            records.clear();
            --attempts;
        }
        return false;
    }

    bool LoadDirectory(uint64_t endPos, const unsigned char* end) {
        const uint16_t disk = Le16(end + 4);
        const uint16_t directoryDisk = Le16(end + 6);
        const uint16_t entriesOnDisk = Le16(end + 8);
        const uint16_t entryCount = Le16(end + 10);
        const uint32_t directorySize = Le32(end + 12);
        const uint32_t directoryOffset = Le32(end + 16);
        if (disk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount) {
            return false;  // split archives are not supported
        }
        if (endPos >= 20) {
            unsigned char locator[4];
            if (ReadAt(endPos - 20, 4, locator) && Le32(locator) == kZip64LocatorSignature) {
                return false;  // 64-bit archives are not supported
            }
        }
        if (static_cast<uint64_t>(directoryOffset) + directorySize > endPos) {
            return false;
        }
        std::string directory(directorySize, '\0');
        if (!ReadAt(directoryOffset, directory.size(), directory.data())) {
            return false;
        }
        const auto* d = reinterpret_cast<const unsigned char*>(directory.data());
        size_t pos = 0;
        for (size_t i = 0; i < entryCount; ++i) {
            if (pos + kCentralHeaderSize > directory.size() || Le32(d + pos) != kCentralSignature) {
                return false;
            }
            const unsigned char* h = d + pos;
            const size_t nameSize = Le16(h + 28);
            const size_t extraSize = Le16(h + 30);
            const size_t commentSize = Le16(h + 32);
            const size_t recordSize = kCentralHeaderSize + nameSize + extraSize + commentSize;
            if (pos + recordSize > directory.size()) {
                return false;
            }
            Record record;
            record.flags = Le16(h + 8);
            record.method = Le16(h + 10);
            record.crc = Le32(h + 16);
            record.localOffset = Le32(h + 42);

            ZipEntryInfo info;
            info.index = i;
            info.name = DecodeName(
                std::string(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameSize),
                record.flags, static_cast<uint8_t>(Le16(h + 4) >> 8));
            info.compressedSize = Le32(h + 20);
            info.size = Le32(h + 24);
            info.modified = DosTimeToUtc(Le16(h + 14), Le16(h + 12));
            info.accessed = info.modified;
            info.created = info.modified;
            ApplyAttributes(Le16(h + 4), Le32(h + 38), info);
            ApplyLocalTimes(record, info);

            entries.push_back(std::move(info));
            records.push_back(record);
            pos += recordSize;
        }
        return true;
    }

    // The extended timestamp lives in the local header's extra field; a local
    // header that cannot be read leaves the DOS time (the entry fails later).
    void ApplyLocalTimes(const Record& record, ZipEntryInfo& info) const {
        unsigned char header[kLocalHeaderSize];
        if (!ReadAt(record.localOffset, sizeof(header), header) ||
            Le32(header) != kLocalSignature) {
            return;
        }
        const size_t nameSize = Le16(header + 26);
        const size_t extraSize = Le16(header + 28);
        if (extraSize == 0) {
            return;
        }
        std::string extra(extraSize, '\0');
        if (!ReadAt(static_cast<uint64_t>(record.localOffset) + kLocalHeaderSize + nameSize,
                    extra.size(), extra.data())) {
            return;
        }
        ApplyExtendedTimestamp(reinterpret_cast<const unsigned char*>(extra.data()), extra.size(),
                               info);
    }

    // Delivers an entry's bytes piece by piece; true only when all of them
    // came out and match the recorded size and CRC.
    bool Stream(size_t index, const Sink& sink) const {
        if (index >= records.size()) {
            return false;
        }
        const Record& record = records[index];
        const ZipEntryInfo& info = entries[index];
        uint64_t dataStart = 0;
        if (!FindData(record, info, dataStart)) {
            return false;
        }
        uint32_t crc = ::crc32(0L, Z_NULL, 0);
        uint64_t produced = 0;
        const Sink deliver = [&](const char* data, size_t count) {
            produced += count;
            if (produced > info.size) {
                return false;
            }
            crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(count));
            return sink(data, count);
        };
        const bool delivered = record.method == kMethodStored
                                   ? CopyStored(dataStart, info, deliver)
                                   : Inflate(dataStart, info.compressedSize, deliver);
        return delivered && produced == info.size && crc == record.crc;
    }

    // Checks that the entry can be read (not encrypted, a known method, a
    // local header that agrees with the directory) and finds where its data
    // starts, within the archive.
    bool FindData(const Record& record, const ZipEntryInfo& info, uint64_t& dataStart) const {
        if (record.flags & kFlagEncrypted) {
            return false;
        }
        if (record.method != kMethodStored && record.method != kMethodDeflated) {
            return false;
        }
        unsigned char header[kLocalHeaderSize];
        if (!ReadAt(record.localOffset, sizeof(header), header) ||
            Le32(header) != kLocalSignature) {
            return false;
        }
        if (Le16(header + 8) != record.method || (Le16(header + 6) & kFlagEncrypted)) {
            return false;
        }
        dataStart = static_cast<uint64_t>(record.localOffset) + kLocalHeaderSize +
                    Le16(header + 26) + Le16(header + 28);
        return dataStart <= size && info.compressedSize <= size - dataStart;
    }

    bool CopyStored(uint64_t offset, const ZipEntryInfo& info, const Sink& deliver) const {
        if (info.compressedSize != info.size) {
            return false;
        }
        std::string input(kPieceSize, '\0');
        uint64_t remaining = info.compressedSize;
        while (remaining > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kPieceSize));
            if (!ReadAt(offset, n, input.data()) || !deliver(input.data(), n)) {
                return false;
            }
            offset += n;
            remaining -= n;
        }
        return true;
    }

    bool Inflate(uint64_t offset, uint64_t remaining, const Sink& deliver) const {
        Inflater inflater;
        if (!inflater.ready) {
            return false;
        }
        z_stream& z = inflater.stream;
        std::string input(kPieceSize, '\0');
        std::string output(kPieceSize, '\0');
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.avail_in == 0) {
                if (remaining == 0) {
                    return false;  // the deflate stream ends early
                }
                const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kPieceSize));
                if (!ReadAt(offset, n, input.data())) {
                    return false;
                }
                offset += n;
                remaining -= n;
                z.next_in = reinterpret_cast<Bytef*>(input.data());
                z.avail_in = static_cast<uInt>(n);
            }
            z.next_out = reinterpret_cast<Bytef*>(output.data());
            z.avail_out = static_cast<uInt>(output.size());
            rc = ::inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                return false;
            }
            const size_t got = output.size() - z.avail_out;
            if (got > 0 && !deliver(output.data(), got)) {
                return false;
            }
            if (rc == Z_BUF_ERROR && z.avail_in != 0) {
                return false;  // no progress although input was there
            }
        }
        return true;
    }
};

ZipReader::ZipReader() : m_impl(std::make_unique<Impl>()) {}

ZipReader::~ZipReader() = default;

bool ZipReader::OpenFile(const std::string& path) {
    m_impl->Clear();
    if (!m_impl->file.Open(path)) {
        return false;
    }
    m_impl->size = m_impl->file.Size();
    if (!m_impl->Load()) {
        m_impl->Clear();
        return false;
    }
    return true;
}

bool ZipReader::OpenMemory(std::string bytes) {
    m_impl->Clear();
    m_impl->memory = std::move(bytes);
    m_impl->size = m_impl->memory.size();
    if (!m_impl->Load()) {
        m_impl->Clear();
        return false;
    }
    return true;
}

const std::vector<ZipEntryInfo>& ZipReader::Entries() const {
    return m_impl->entries;
}

int ZipReader::Find(const std::string& name) const {
    const auto& entries = m_impl->entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int ZipReader::FindPath(const std::string& path) const {
    const std::string wanted = NormalizePath(path);
    const auto& entries = m_impl->entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (NormalizePath(entries[i].name) == wanted) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool ZipReader::Read(size_t index, std::string& data) const {
    data.clear();
    const bool ok = m_impl->Stream(index, [&data](const char* piece, size_t size) {
        data.append(piece, size);
        return true;
    });
    if (!ok) {
        data.clear();
    }
    return ok;
}

bool ZipReader::ReadTo(size_t index, const Sink& sink) const {
    return m_impl->Stream(index, sink);
}
