#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ZipReader.h"
#include "support/ZipBuilder.h"

namespace {

using testzip::Entry;

// Text that deflates well and is long enough to span several read pieces.
std::string LongText(size_t size) {
    std::string text;
    uint32_t x = 12345;
    while (text.size() < size) {
        x = x * 1103515245u + 12345u;
        text += "clip " + std::to_string((x >> 16) % 97) + "; ";
    }
    text.resize(size);
    return text;
}

// Bytes that do not compress, so deflate falls back to stored blocks inside.
std::string NoiseBytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t x = 7;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xFF);
    }
    return bytes;
}

class TempFile {
public:
    TempFile() {
        char pattern[] = "/tmp/zipreader-XXXXXX";
        const int fd = ::mkstemp(pattern);
        ::close(fd);
        m_path = pattern;
    }
    ~TempFile() { ::unlink(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void Write(const std::string& bytes) const {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << bytes;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Runs a test body with the local time zone set to a POSIX rule.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (m_hadOld) {
            ::setenv("TZ", m_old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    bool m_hadOld = false;
    std::string m_old;
};

struct ContentCase {
    const char* label;
    uint16_t method;
    std::string data;
};

TEST(ZipReaderTest, ReadsStoredAndDeflatedEntriesFromFileAndMemory) {
    const std::vector<ContentCase> cases = {
        {"empty stored", 0, ""},
        {"empty deflated", 8, ""},
        {"short stored", 0, "RIFF....WAVE"},
        {"short deflated", 8, "RIFF....WAVE"},
        {"text over many pieces", 8, LongText(200000)},
        {"noise over many pieces", 8, NoiseBytes(70001)},
        {"stored over many pieces", 0, NoiseBytes(40000)},
    };
    std::vector<Entry> entries;
    for (const auto& c : cases) {
        Entry e;
        e.name = std::string("Audio/") + c.label;
        e.method = c.method;
        e.data = c.data;
        entries.push_back(e);
    }
    const std::string archive = testzip::Build(entries);
    TempFile file;
    file.Write(archive);

    ZipReader fromFile;
    ZipReader fromMemory;
    ASSERT_TRUE(fromFile.OpenFile(file.Path()));
    ASSERT_TRUE(fromMemory.OpenMemory(archive));
    for (const ZipReader* reader : {&fromFile, &fromMemory}) {
        ASSERT_EQ(reader->Entries().size(), cases.size());
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].label);
            const ZipEntryInfo& info = reader->Entries()[i];
            EXPECT_EQ(info.index, i);
            EXPECT_EQ(info.name, std::string("Audio/") + cases[i].label);
            EXPECT_EQ(info.size, cases[i].data.size());
            EXPECT_FALSE(info.directory);
            std::string data = "left over";
            ASSERT_TRUE(reader->Read(i, data));
            EXPECT_EQ(data, cases[i].data);

            std::string streamed;
            size_t largestPiece = 0;
            ASSERT_TRUE(reader->ReadTo(i, [&](const char* p, size_t n) {
                streamed.append(p, n);
                largestPiece = std::max(largestPiece, n);
                return true;
            }));
            EXPECT_EQ(streamed, cases[i].data);
            EXPECT_LE(largestPiece, ZipReader::kPieceSize);
        }
    }
}

TEST(ZipReaderTest, FindMatchesExactlyAndFindPathLoosely) {
    std::vector<Entry> entries(3);
    entries[0].name = "Xmls/Main.xml";
    entries[1].name = "UI\\logo.png";
    entries[2].name = "UI/logo.png";
    ZipReader reader;
    ASSERT_TRUE(reader.OpenMemory(testzip::Build(entries)));

    EXPECT_EQ(reader.Find("Xmls/Main.xml"), 0);
    EXPECT_EQ(reader.Find("xmls/main.xml"), -1);
    EXPECT_EQ(reader.Find("Xmls\\Main.xml"), -1);
    EXPECT_EQ(reader.Find("UI/logo.png"), 2);
    EXPECT_EQ(reader.Find("Main.xml"), -1);

    EXPECT_EQ(reader.FindPath("xmls\\MAIN.XML"), 0);
    EXPECT_EQ(reader.FindPath("ui/LOGO.png"), 1);  // the first of two spellings
    EXPECT_EQ(reader.FindPath("ui/logo"), -1);
}

TEST(ZipReaderTest, StopsWhenTheSinkRefuses) {
    Entry e;
    e.name = "big";
    e.data = LongText(100000);
    ZipReader reader;
    ASSERT_TRUE(reader.OpenMemory(testzip::Build({e})));
    size_t calls = 0;
    EXPECT_FALSE(reader.ReadTo(0, [&](const char*, size_t) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1u);
}

struct NameCase {
    const char* label;
    std::string stored;
    uint16_t flags;
    uint8_t host;
    std::string expected;
};

TEST(ZipReaderTest, DecodesNamesAsUtf8OrGbk) {
    const std::string tishiyinUtf8 = "\xE6\x8F\x90\xE7\xA4\xBA\xE9\x9F\xB3";
    const std::string tishiyinGbk = "\xCC\xE1\xCA\xBE\xD2\xF4";
    const std::string shiUtf8 = "\xE5\x8D\x81";
    const std::string shiGbk = "\xCA\xAE";  // also valid UTF-8: U+02AE
    const std::vector<NameCase> cases = {
        {"utf-8 flagged", "Audio/" + tishiyinUtf8 + ".wav", 0x0800, 0,
         "Audio/" + tishiyinUtf8 + ".wav"},
        {"flag wins over a dos host", shiGbk + ".wav", 0x0800, 0, "\xCA\xAE.wav"},
        {"utf-8 from unix without the flag", shiUtf8 + ".wav", 0, 3, shiUtf8 + ".wav"},
        {"utf-8 from windows without the flag", tishiyinUtf8 + ".wav", 0, 11,
         tishiyinUtf8 + ".wav"},
        {"gbk from windows", "Audio\\" + tishiyinGbk + ".wav", 0, 0,
         "Audio\\" + tishiyinUtf8 + ".wav"},
        {"gbk ten from windows", shiGbk + ".wav", 0, 11, shiUtf8 + ".wav"},
        {"gbk ten from unix reads as utf-8", shiGbk + ".wav", 0, 3, "\xCA\xAE.wav"},
        {"gbk from unix when not utf-8", tishiyinGbk + ".wav", 0, 3, tishiyinUtf8 + ".wav"},
        {"broken utf-8 flagged", "a\xFF/b.wav", 0x0800, 3, "a\xEF\xBF\xBD/b.wav"},
        {"cut gbk sequence", "x\xCC", 0, 0, "x\xEF\xBF\xBD"},
        {"plain ascii", "0.wav", 0, 0, "0.wav"},
    };
    std::vector<Entry> entries;
    for (const auto& c : cases) {
        Entry e;
        e.name = c.stored;
        e.flags = c.flags;
        e.versionMadeBy = static_cast<uint16_t>((c.host << 8) | 20);
        e.externalAttributes = 0x20;
        e.data = c.label;
        entries.push_back(e);
    }
    ZipReader reader;
    ASSERT_TRUE(reader.OpenMemory(testzip::Build(entries)));
    ASSERT_EQ(reader.Entries().size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(reader.Entries()[i].name, cases[i].expected) << cases[i].label;
    }
}

struct AttributeCase {
    const char* label;
    uint8_t host;
    uint32_t external;
    std::string name;
    bool readOnly;
    bool directory;
};

TEST(ZipReaderTest, MapsAttributesByHostSystem) {
    const std::vector<AttributeCase> cases = {
        {"dos file", 0, 0x20, "a", false, false},
        {"dos read-only", 0, 0x21, "b", true, false},
        {"dos folder", 0, 0x10, "c", false, true},
        {"ntfs read-only", 11, 0x01, "d", true, false},
        {"vfat folder", 14, 0x10, "e", false, true},
        {"host 7 read-only", 7, 0x01, "f", true, false},
        {"unix rw file", 3, 0100644u << 16, "g", false, false},
        {"unix read-only file", 3, 0100444u << 16, "h", true, false},
        {"unix owner cannot write", 3, 0100066u << 16, "i", true, false},
        {"unix folder", 3, (040755u << 16) | 0x10, "j", false, true},
        {"unix mode missing, dos bits", 3, 0x01, "k", true, false},
        {"unix mode missing", 3, 0, "l", false, false},
        {"name ends in a slash", 3, 0100644u << 16, "m/", false, true},
        {"name ends in a backslash", 0, 0x20, "n\\", false, true},
    };
    std::vector<Entry> entries;
    for (const auto& c : cases) {
        Entry e;
        e.name = c.name;
        e.versionMadeBy = static_cast<uint16_t>((c.host << 8) | 20);
        e.externalAttributes = c.external;
        entries.push_back(e);
    }
    ZipReader reader;
    ASSERT_TRUE(reader.OpenMemory(testzip::Build(entries)));
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].label);
        EXPECT_EQ(reader.Entries()[i].readOnly, cases[i].readOnly);
        EXPECT_EQ(reader.Entries()[i].directory, cases[i].directory);
    }
}

struct TimeCase {
    const char* label;
    const char* zone;
    std::string localExtra;
    std::string centralExtra;
    std::time_t modified;
    std::time_t accessed;
    std::time_t created;
};

TEST(ZipReaderTest, TakesDosTimeAsLocalTimeAndPrefersTheExtendedTimestamp) {
    // The builder's DOS stamp is 2019-03-12 10:20:30 local time.
    const std::time_t dosUtc = 1552386030;
    const std::time_t dosShanghai = dosUtc - 8 * 3600;
    const std::string someExtra = std::string("\x34\x12\x02\x00xy", 6);
    const std::vector<TimeCase> cases = {
        {"utc, no extra", "UTC0", "", "", dosUtc, dosUtc, dosUtc},
        {"utc+8, no extra", "CST-8", "", "", dosShanghai, dosShanghai, dosShanghai},
        {"modification only", "CST-8", testzip::UtBlock(1, {1700000000}), "", 1700000000,
         dosShanghai, dosShanghai},
        {"all three", "UTC0", testzip::UtBlock(7, {1700000000, 1700000100, 1600000000}), "",
         1700000000, 1700000100, 1600000000},
        {"access and creation", "UTC0", testzip::UtBlock(6, {1700000100, 1600000000}), "", dosUtc,
         1700000100, 1600000000},
        {"after another block", "UTC0", someExtra + testzip::UtBlock(1, {1700000000}), "",
         1700000000, dosUtc, dosUtc},
        {"only the first block counts", "UTC0",
         testzip::UtBlock(1, {1700000000}) + testzip::UtBlock(1, {1000}), "", 1700000000, dosUtc,
         dosUtc},
        {"block shorter than its flags", "UTC0", testzip::UtBlock(3, {1700000000}), "", 1700000000,
         dosUtc, dosUtc},
        {"central block is not used", "UTC0", "", testzip::UtBlock(1, {1700000000}), dosUtc, dosUtc,
         dosUtc},
        {"block overruns the field", "UTC0", testzip::UtBlock(1, {1700000000}).substr(0, 7), "",
         dosUtc, dosUtc, dosUtc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ZoneGuard zone(c.zone);
        Entry e;
        e.name = "t.wav";
        e.data = "x";
        e.localExtra = c.localExtra;
        e.centralExtra = c.centralExtra;
        ZipReader reader;
        ASSERT_TRUE(reader.OpenMemory(testzip::Build({e})));
        const ZipEntryInfo& info = reader.Entries()[0];
        EXPECT_EQ(info.modified, c.modified);
        EXPECT_EQ(info.accessed, c.accessed);
        EXPECT_EQ(info.created, c.created);
        std::string data;
        EXPECT_TRUE(reader.Read(0, data));
        EXPECT_EQ(data, "x");
    }
}

struct DamageCase {
    const char* label;
    Entry entry;
};

Entry MakeEntry(uint16_t method) {
    Entry e;
    e.name = "Audio/1.wav";
    e.data = LongText(5000);
    e.method = method;
    return e;
}

TEST(ZipReaderTest, RefusesDamagedOrUnsupportedEntriesButKeepsTheOthers) {
    std::vector<DamageCase> cases;
    for (uint16_t method : {0, 8}) {
        Entry e = MakeEntry(method);
        e.crc = testzip::Crc32(e.data) ^ 1;
        cases.push_back({method ? "deflated, wrong crc" : "stored, wrong crc", e});
    }
    {
        Entry e = MakeEntry(12);  // bzip2
        cases.push_back({"bzip2", e});
    }
    {
        Entry e = MakeEntry(99);  // AES
        cases.push_back({"aes", e});
    }
    {
        Entry e = MakeEntry(8);
        e.localMethod = 0;
        cases.push_back({"local method differs", e});
    }
    {
        Entry e = MakeEntry(0);
        e.flags |= 1;
        cases.push_back({"encrypted", e});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Entry good;
        good.name = "Audio/2.wav";
        good.data = "fine";
        ZipReader reader;
        ASSERT_TRUE(reader.OpenMemory(testzip::Build({c.entry, good})));
        std::string data;
        EXPECT_FALSE(reader.Read(0, data));
        EXPECT_TRUE(data.empty());
        ASSERT_TRUE(reader.Read(1, data));
        EXPECT_EQ(data, "fine");
    }
}

TEST(ZipReaderTest, RefusesEntriesWhoseSizesLie) {
    // Build a good archive, then patch the uncompressed size in both headers.
    for (uint16_t method : {0, 8}) {
        for (int delta : {-1, 1}) {
            SCOPED_TRACE(std::to_string(method) + " " + std::to_string(delta));
            Entry e = MakeEntry(method);
            std::string archive = testzip::Build({e});
            const uint32_t lie = static_cast<uint32_t>(e.data.size() + delta);
            std::string patch;
            testzip::Put32(patch, lie);
            archive.replace(22, 4, patch);  // local header
            const size_t central = archive.find("PK\x01\x02");
            archive.replace(central + 24, 4, patch);
            ZipReader reader;
            ASSERT_TRUE(reader.OpenMemory(archive));
            std::string data;
            EXPECT_FALSE(reader.Read(0, data));
        }
    }
}

TEST(ZipReaderTest, RefusesWhatIsNoArchive) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"text", "this is not a zip file at all, just some text"},
        {"only an end record start", std::string("PK\x05\x06", 4)},
        {"noise", NoiseBytes(4096)},
    };
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        ZipReader reader;
        EXPECT_FALSE(reader.OpenMemory(bytes));
        EXPECT_TRUE(reader.Entries().empty());
        TempFile file;
        file.Write(bytes);
        EXPECT_FALSE(reader.OpenFile(file.Path()));
    }
    ZipReader reader;
    EXPECT_FALSE(reader.OpenFile("/nonexistent/Audio.zip"));
    EXPECT_FALSE(reader.OpenFile("/tmp"));
    std::string data;
    EXPECT_FALSE(reader.Read(0, data));
}

TEST(ZipReaderTest, FindsTheEndRecordBehindAComment) {
    Entry e;
    e.name = "a.wav";
    e.data = "abc";
    // The second comment ends in a complete fake end record, comment length 0.
    const std::vector<std::pair<const char*, std::string>> comments = {
        {"plain", "made here"},
        {"signature inside", std::string("made here PK\x05\x06 and more", 23)},
        {"whole fake record",
         std::string("PK\x05\x06\x01\x00", 6) + std::string(14, '\x07') + std::string(2, '\0')},
    };
    for (const auto& [label, comment] : comments) {
        SCOPED_TRACE(label);
        ZipReader reader;
        ASSERT_TRUE(reader.OpenMemory(testzip::Build({e}, comment)));
        ASSERT_EQ(reader.Entries().size(), 1u);
        std::string data;
        ASSERT_TRUE(reader.Read(0, data));
        EXPECT_EQ(data, "abc");
    }
}

TEST(ZipReaderTest, ReopeningReplacesTheOldArchive) {
    Entry a;
    a.name = "a";
    a.data = "first";
    Entry b;
    b.name = "b";
    b.data = "second";
    ZipReader reader;
    ASSERT_TRUE(reader.OpenMemory(testzip::Build({a, b})));
    ASSERT_TRUE(reader.OpenMemory(testzip::Build({b})));
    ASSERT_EQ(reader.Entries().size(), 1u);
    EXPECT_EQ(reader.Find("a"), -1);
    EXPECT_FALSE(reader.OpenMemory("junk"));
    EXPECT_TRUE(reader.Entries().empty());
}

std::vector<Entry> SmallPack() {
    std::vector<Entry> entries(3);
    entries[0].name = "Audio/";
    entries[0].externalAttributes = (040755u << 16) | 0x10;
    entries[1].name = "Audio/1.wav";
    entries[1].data = LongText(300);
    entries[2].name = "Audio/\xE5\x8D\x81.wav";
    entries[2].data = "RIFF and some bytes";
    entries[2].method = 0;
    entries[2].localExtra = testzip::UtBlock(1, {1700000000});
    return entries;
}

TEST(ZipReaderTest, ArchiveCutAtEveryLengthIsRefused) {
    const std::string archive = testzip::Build(SmallPack());
    TempFile file;
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        SCOPED_TRACE(cut);
        ZipReader reader;
        EXPECT_FALSE(reader.OpenMemory(archive.substr(0, cut)));
        if (cut % 16 == 0) {
            file.Write(archive.substr(0, cut));
            EXPECT_FALSE(reader.OpenFile(file.Path()));
        }
    }
    ZipReader reader;
    EXPECT_TRUE(reader.OpenMemory(archive));
}

// Whatever single byte is damaged, the reader never hands out data that differs
// from what was packed: a read either fails or returns the original content.
TEST(ZipReaderTest, NeverReturnsDamagedDataWhateverByteIsHit) {
    const std::vector<Entry> entries = SmallPack();
    const std::string archive = testzip::Build(entries);
    for (size_t pos = 0; pos < archive.size(); ++pos) {
        SCOPED_TRACE(pos);
        std::string damaged = archive;
        damaged[pos] = static_cast<char>(damaged[pos] ^ 0xFF);
        ZipReader reader;
        if (!reader.OpenMemory(damaged)) {
            continue;
        }
        ASSERT_EQ(reader.Entries().size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string data;
            if (reader.Read(i, data)) {
                EXPECT_EQ(data, entries[i].data) << "entry " << i;
            }
        }
    }
}

}  // namespace
