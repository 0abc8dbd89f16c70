#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempProgramDir.h"
#include "support/ZipBuilder.h"
#include "voice/AudioPack.h"

namespace fs = std::filesystem;
using testzip::Entry;

namespace {

// Every file and folder under `root`, relative, folders ending in '/', with
// file contents; symlinks are listed as "-> target".
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string relative = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            tree[relative] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[relative + "/"] = "";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::ostringstream out;
            out << in.rdbuf();
            tree[relative] = out.str();
        }
    }
    return tree;
}

Entry FileEntry(const std::string& name, const std::string& data, uint16_t method = 8) {
    Entry e;
    e.name = name;
    e.data = data;
    e.method = method;
    return e;
}

Entry FolderEntry(const std::string& name) {
    Entry e;
    e.name = name;
    e.method = 0;
    e.externalAttributes = (040755u << 16) | 0x10;
    return e;
}

// The tree without the program's log, which a kept pack writes to.
std::map<std::string, std::string> Installed(const std::string& root) {
    auto tree = Tree(root);
    std::erase_if(tree, [](const auto& item) { return item.first.rfind("log/", 0) == 0; });
    return tree;
}

// The log's lines about a pack that was kept.
std::vector<std::string> PackErrors(const TempProgramDir& dir) {
    std::vector<std::string> lines;
    std::istringstream log(dir.LogText());
    for (std::string line; std::getline(log, line);) {
        if (line.find("解压语音包出错") != std::string::npos) {
            EXPECT_NE(line.find("ERROR"), std::string::npos) << line;
            lines.push_back(line);
        }
    }
    return lines;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class AudioPackTest : public ::testing::Test {
protected:
    void WritePack(const std::vector<Entry>& entries) const {
        m_dir.Write("Audio.zip", testzip::Build(entries));
    }

    TempProgramDir m_dir;
};

TEST_F(AudioPackTest, WithoutAPackNothingIsTouched) {
    m_dir.Write("Setting.ini", "[Setting]\nvolume=80\n");
    m_dir.Write("Audio/1.wav", "old clip");
    const auto before = Tree(m_dir.Dir());
    const auto mtime = StatOf(m_dir.File("Audio/1.wav")).st_mtim;

    UnpackAudioPack();

    EXPECT_EQ(Tree(m_dir.Dir()), before);
    const auto after = StatOf(m_dir.File("Audio/1.wav")).st_mtim;
    EXPECT_EQ(after.tv_sec, mtime.tv_sec);
    EXPECT_EQ(after.tv_nsec, mtime.tv_nsec);
}

// Reads DOS times as UTC while it lives.
struct UtcZone {
    UtcZone() {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    ~UtcZone() {
        ::unsetenv("TZ");
        ::tzset();
    }
};

TEST_F(AudioPackTest, ReplacesClipsCarriesTheirTimesAndDeletesThePack) {
    const UtcZone utc;
    m_dir.Write("Audio/1.wav", "old clip");
    Entry withUt = FileEntry("Audio/1.wav", "new clip one");
    withUt.localExtra = testzip::UtBlock(3, {1700000000, 1700000500});
    Entry dosOnly = FileEntry("Audio/\xE5\x8D\x81.wav", "ten", 0);
    WritePack({FolderEntry("Audio/"), withUt, dosOnly});

    UnpackAudioPack();

    EXPECT_FALSE(m_dir.Exists("Audio.zip"));
    const struct stat one = StatOf(m_dir.File("Audio/1.wav"));
    EXPECT_EQ(one.st_mtim.tv_sec, 1700000000);
    EXPECT_EQ(one.st_atim.tv_sec, 1700000500);
    EXPECT_NE(one.st_mode & 0200, 0u);
    // 2019-03-12 10:20:30, the builder's DOS stamp, read as UTC here.
    EXPECT_EQ(StatOf(m_dir.File("Audio/\xE5\x8D\x81.wav")).st_mtim.tv_sec, 1552386030);
    EXPECT_EQ(m_dir.Read("Audio/1.wav"), "new clip one");
    EXPECT_EQ(m_dir.Read("Audio/\xE5\x8D\x81.wav"), "ten");
    const std::map<std::string, std::string> expected = {
        {"Audio/", ""}, {"Audio/1.wav", "new clip one"}, {"Audio/\xE5\x8D\x81.wav", "ten"}};
    EXPECT_EQ(Tree(m_dir.Dir()), expected);
}

TEST_F(AudioPackTest, OldGbkPacksLandUnderTheirChineseNames) {
    Entry ten = FileEntry("Audio\\\xCA\xAE.wav", "ten");  // 十 in GBK, made on Windows
    ten.flags = 0;
    ten.versionMadeBy = 20;  // host 0
    ten.externalAttributes = 0x20;
    WritePack({ten});

    UnpackAudioPack();

    EXPECT_EQ(m_dir.Read("Audio/\xE5\x8D\x81.wav"), "ten");
    EXPECT_FALSE(m_dir.Exists("Audio.zip"));
}

struct NameCase {
    std::string stored;
    std::string landsAt;  // empty: the entry is skipped
};

// Names from other systems or from a hostile pack: everything stays inside the
// target folder, and what can be placed there is placed.
TEST_F(AudioPackTest, KeepsEveryEntryNameInsideTheTargetFolder) {
    const std::vector<NameCase> cases = {
        {"..\\..\\Windows\\x.wav", "Windows/x.wav"},
        {"C:\\x.wav", "x.wav"},
        {"/abs/y.wav", "abs/y.wav"},
        {"../x1.wav", "x1.wav"},
        {"..\\..\\x2.wav", "x2.wav"},
        {"a/../../b.wav", "b.wav"},
        {"\\\\server\\share\\s.wav", "server/share/s.wav"},
        {"C:/..\\z.wav", "z.wav"},
        {"d:e.wav", "e.wav"},
        {"\xE6\x8F\x90:f.wav", "f.wav"},  // a drive letter that is no letter
        {"./dot.wav", "dot.wav"},
        {"...\\three.wav", ".../three.wav"},
        {"Audio/sub\\mixed.wav", "Audio/sub/mixed.wav"},
        {"a/..", ""},
        {"..", ""},
        {"../", ""},
        {"C:", ""},
        {std::string("nul\0.wav", 8), ""},
    };
    std::vector<Entry> entries;
    std::map<std::string, std::string> expected;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string content = "entry " + std::to_string(i);
        entries.push_back(FileEntry(cases[i].stored, content));
        if (cases[i].landsAt.empty()) {
            continue;
        }
        expected[cases[i].landsAt] = content;
        // Every folder above it is created as well.
        for (fs::path p = fs::path(cases[i].landsAt).parent_path(); !p.empty();
             p = p.parent_path()) {
            expected[p.string() + "/"] = "";
        }
    }
    const std::string pack = m_dir.File("pack.zip");
    m_dir.Write("pack.zip", testzip::Build(entries));

    EXPECT_TRUE(UnzipToFolder(pack, m_dir.File("prog/inner")));

    EXPECT_EQ(Tree(m_dir.File("prog/inner")), expected);
    // Nothing beside the target folder (its own content taken out).
    const std::map<std::string, std::string> top = {{"prog/", ""}};
    auto outside = Tree(m_dir.Dir());
    for (auto it = outside.begin(); it != outside.end();) {
        it = it->first.rfind("prog/inner/", 0) == 0 || it->first == "pack.zip" ? outside.erase(it)
                                                                               : std::next(it);
    }
    EXPECT_EQ(outside, top);
}

TEST_F(AudioPackTest, HostileNamesStayInTheProgramFolderAtStartUp) {
    WritePack({FileEntry("..\\..\\Windows\\x.wav", "x"), FileEntry("/abs/y.wav", "y"),
               FileEntry("../up.wav", "u")});

    UnpackAudioPack();

    const std::map<std::string, std::string> expected = {{"Windows/", ""},
                                                         {"Windows/x.wav", "x"},
                                                         {"abs/", ""},
                                                         {"abs/y.wav", "y"},
                                                         {"up.wav", "u"}};
    EXPECT_EQ(Tree(m_dir.Dir()), expected);
}

TEST_F(AudioPackTest, FolderEntriesCreateEmptyFolders) {
    WritePack({FolderEntry("Audio/new/"), FolderEntry("..\\up\\"), FolderEntry("deep/a/b/")});

    UnpackAudioPack();

    const std::map<std::string, std::string> expected = {{"Audio/", ""},  {"Audio/new/", ""},
                                                         {"up/", ""},     {"deep/", ""},
                                                         {"deep/a/", ""}, {"deep/a/b/", ""}};
    EXPECT_EQ(Tree(m_dir.Dir()), expected);
}

// A pack still being copied when the program starts: nothing is written, the
// pack stays for the next start and each start says so in one line.
TEST_F(AudioPackTest, ArchiveCutAtEveryLengthWritesNothingAndIsKept) {
    m_dir.Write("Audio/1.wav", "old clip");
    const std::string archive =
        testzip::Build({FolderEntry("Audio/new/"), FileEntry("Audio/1.wav", "new clip"),
                        FileEntry("Audio/2.wav", std::string(3000, 'a'), 0)});
    auto expected = Tree(m_dir.Dir());
    for (size_t cut = 0; cut < archive.size(); ++cut) {
        SCOPED_TRACE(cut);
        m_dir.Write("Audio.zip", archive.substr(0, cut));
        UnpackAudioPack();
        expected["Audio.zip"] = archive.substr(0, cut);
        ASSERT_EQ(Installed(m_dir.Dir()), expected);
        ASSERT_EQ(PackErrors(m_dir).size(), cut + 1);
    }
}

struct DamageCase {
    const char* label;
    Entry entry;
};

std::vector<DamageCase> DamagedClips() {
    std::vector<DamageCase> cases;
    const std::string data(20000, 'w');
    for (uint16_t method : {0, 8}) {
        Entry e = FileEntry("Audio/1.wav", data, method);
        e.crc = testzip::Crc32(data) ^ 0x80;
        cases.push_back({method ? "deflated, wrong crc" : "stored, wrong crc", e});
    }
    cases.push_back({"bzip2", FileEntry("Audio/1.wav", data, 12)});
    {
        Entry e = FileEntry("Audio/1.wav", data);
        e.localMethod = 0;
        cases.push_back({"local method differs", e});
    }
    {
        Entry e = FileEntry("Audio/1.wav", data, 0);
        e.flags |= 1;
        cases.push_back({"encrypted", e});
    }
    return cases;
}

// A broken clip in a pack must not cost the good one already installed, and
// must not stop the rest of the pack; the pack stays to be tried again.
TEST_F(AudioPackTest, DamagedEntryKeepsTheInstalledClipAndThePackAndTheOthersAreExtracted) {
    for (const auto& c : DamagedClips()) {
        SCOPED_TRACE(c.label);
        fs::remove_all(m_dir.File("Audio"));
        m_dir.Write("Audio/1.wav", "good old clip");
        WritePack({c.entry, FileEntry("Audio/2.wav", "two"), FileEntry("Audio/3.mp3", "three", 0)});

        UnpackAudioPack();

        const std::map<std::string, std::string> expected = {
            {"Audio/", ""},
            {"Audio/1.wav", "good old clip"},
            {"Audio/2.wav", "two"},
            {"Audio/3.mp3", "three"},
            {"Audio.zip", m_dir.Read("Audio.zip")}};
        EXPECT_EQ(Installed(m_dir.Dir()), expected);  // also: no temporary file left
        ASSERT_FALSE(PackErrors(m_dir).empty());
        EXPECT_NE(PackErrors(m_dir).back().find("Audio/1.wav"), std::string::npos);
    }
}

TEST_F(AudioPackTest, DamagedEntryWithoutAnInstalledClipLeavesNoFile) {
    for (const auto& c : DamagedClips()) {
        SCOPED_TRACE(c.label);
        fs::remove_all(m_dir.File("Audio"));
        WritePack({c.entry});
        UnpackAudioPack();
        const std::map<std::string, std::string> expected = {
            {"Audio/", ""}, {"Audio.zip", m_dir.Read("Audio.zip")}};
        EXPECT_EQ(Installed(m_dir.Dir()), expected);
    }
}

// Whatever single byte of the pack is damaged, no file ever holds anything but
// a packed entry's exact content, and nothing lands beside the target folder.
TEST_F(AudioPackTest, NoDamagedByteEverLeavesDamagedDataOnDisk) {
    const std::vector<Entry> entries = {FolderEntry("Audio/"),
                                        FileEntry("Audio/1.wav", "first clip, deflated"),
                                        FileEntry("Audio/2.mp3", "second clip, stored", 0)};
    const std::set<std::string> contents = {"", "first clip, deflated", "second clip, stored"};
    const std::string archive = testzip::Build(entries);
    const std::string pack = m_dir.File("pack.zip");
    for (size_t pos = 0; pos < archive.size(); ++pos) {
        SCOPED_TRACE(pos);
        std::string damaged = archive;
        damaged[pos] = static_cast<char>(damaged[pos] ^ 0xFF);
        m_dir.Write("pack.zip", damaged);
        const std::string target = m_dir.File("t" + std::to_string(pos));
        UnzipToFolder(pack, target);
        if (!fs::exists(target)) {
            continue;
        }
        for (const auto& [path, content] : Tree(target)) {
            EXPECT_EQ(path.find(".voice-"), std::string::npos) << path;
            if (path.back() != '/') {
                EXPECT_EQ(contents.count(content), 1u) << path << ": " << content;
            }
        }
        fs::remove_all(target);
    }
    const auto top = Tree(m_dir.Dir());
    EXPECT_EQ(top.size(), 1u);
    EXPECT_EQ(top.count("pack.zip"), 1u);
}

TEST_F(AudioPackTest, ReadOnlyEntriesAndReadOnlyClips) {
    m_dir.Write("Audio/kept.wav", "protected by the owner");
    ::chmod(m_dir.File("Audio/kept.wav").c_str(), 0444);
    Entry dosReadOnly = FileEntry("Audio/ro-dos.wav", "dos");
    dosReadOnly.versionMadeBy = 20;
    dosReadOnly.externalAttributes = 0x21;
    Entry unixReadOnly = FileEntry("Audio/ro-unix.wav", "unix");
    unixReadOnly.externalAttributes = 0100444u << 16;
    WritePack({FileEntry("Audio/kept.wav", "replacement"), dosReadOnly, unixReadOnly,
               FileEntry("Audio/plain.wav", "plain")});

    UnpackAudioPack();

    EXPECT_EQ(m_dir.Read("Audio/kept.wav"), "protected by the owner");
    EXPECT_EQ(m_dir.Read("Audio/ro-dos.wav"), "dos");
    EXPECT_EQ(m_dir.Read("Audio/ro-unix.wav"), "unix");
    EXPECT_EQ(m_dir.Read("Audio/plain.wav"), "plain");
    EXPECT_EQ(StatOf(m_dir.File("Audio/ro-dos.wav")).st_mode & 0222, 0u);
    EXPECT_EQ(StatOf(m_dir.File("Audio/ro-unix.wav")).st_mode & 0222, 0u);
    EXPECT_NE(StatOf(m_dir.File("Audio/plain.wav")).st_mode & 0200, 0u);
    EXPECT_FALSE(m_dir.Exists("Audio.zip"));
}

TEST_F(AudioPackTest, EntriesThatCannotBeWrittenAreSkipped) {
    m_dir.Write("Locked/old.wav", "old");
    m_dir.Write("Audio/1.wav/inside", "a folder where a clip should go");
    m_dir.Write("Blocker", "a file where a folder should go");
    const std::string pack = m_dir.File("pack.zip");
    m_dir.Write("pack.zip",
                testzip::Build({FileEntry("Locked/old.wav", "new"), FileEntry("Locked/n.wav", "n"),
                                FileEntry("Audio/1.wav", "clip"), FileEntry("Blocker/x.wav", "x"),
                                FileEntry("Audio/2.wav", "two")}));
    {
        ReadOnlyDir locked(m_dir.File("Locked"));
        if (!locked.Effective()) {
            GTEST_SKIP() << "cannot make a folder unwritable here";
        }
        EXPECT_TRUE(UnzipToFolder(pack, m_dir.Dir()));
    }
    EXPECT_EQ(m_dir.Read("Locked/old.wav"), "old");
    EXPECT_FALSE(m_dir.Exists("Locked/n.wav"));
    EXPECT_EQ(m_dir.Read("Audio/1.wav/inside"), "a folder where a clip should go");
    EXPECT_EQ(m_dir.Read("Blocker"), "a file where a folder should go");
    EXPECT_EQ(m_dir.Read("Audio/2.wav"), "two");
    EXPECT_EQ(Tree(m_dir.File("Locked")).size(), 1u);  // no temporary file either
}

// A clip that is a symbolic link is replaced by the clip itself; the file the
// link pointed at, outside the folder, is never written through it.
TEST_F(AudioPackTest, ReplacesALinkInsteadOfWritingThroughIt) {
    m_dir.Write("outside.txt", "not ours");
    fs::create_directories(m_dir.File("prog/Audio"));
    fs::create_symlink(m_dir.File("outside.txt"), m_dir.File("prog/Audio/1.wav"));
    m_dir.Write("pack.zip", testzip::Build({FileEntry("Audio/1.wav", "clip")}));

    EXPECT_TRUE(UnzipToFolder(m_dir.File("pack.zip"), m_dir.File("prog/")));

    EXPECT_EQ(m_dir.Read("outside.txt"), "not ours");
    EXPECT_TRUE(S_ISREG(StatOf(m_dir.File("prog/Audio/1.wav")).st_mode));
    EXPECT_EQ(m_dir.Read("prog/Audio/1.wav"), "clip");
}

TEST_F(AudioPackTest, ReportsWhetherTheArchiveCouldBeOpened) {
    const std::string target = m_dir.File("out");
    EXPECT_FALSE(UnzipToFolder(m_dir.File("missing.zip"), target));
    m_dir.Write("text.zip", "plain text, no archive");
    EXPECT_FALSE(UnzipToFolder(m_dir.File("text.zip"), target));
    EXPECT_FALSE(fs::exists(target));

    // Opened, although its only entry fails.
    m_dir.Write("bad.zip", testzip::Build({FileEntry("a.wav", "a", 12)}));
    EXPECT_TRUE(UnzipToFolder(m_dir.File("bad.zip"), target));
    EXPECT_FALSE(fs::exists(target + "/a.wav"));

    m_dir.Write("good.zip", testzip::Build({FileEntry("a.wav", "a")}));
    EXPECT_TRUE(UnzipToFolder(m_dir.File("good.zip"), target));
    EXPECT_EQ(m_dir.Read("out/a.wav"), "a");
}

TEST_F(AudioPackTest, NotAnArchiveIsKeptWithoutWritingAnything) {
    const std::string text = "PK\x03\x04 but nothing else of a zip file";
    m_dir.Write("Audio.zip", text);
    UnpackAudioPack();
    const std::map<std::string, std::string> expected = {{"Audio.zip", text}};
    EXPECT_EQ(Installed(m_dir.Dir()), expected);
    EXPECT_EQ(PackErrors(m_dir).size(), 1u);
}

// Entries that could not be read or written whole are counted, the first one
// named; entries left out on purpose (a name that cannot be placed, a clip its
// owner made read-only) are not, so such a pack still goes once unpacked.
TEST_F(AudioPackTest, ReportsTheEntriesThatDidNotComeOutWhole) {
    m_dir.Write("Audio/kept.wav", "protected by the owner");
    ::chmod(m_dir.File("Audio/kept.wav").c_str(), 0444);
    m_dir.Write("Audio/9.wav/inside", "a folder where a clip should go");
    Entry badCrc = FileEntry("Audio/1.wav", "damaged");
    badCrc.crc = testzip::Crc32("damaged") ^ 0x80;
    const std::string pack = m_dir.File("pack.zip");
    m_dir.Write("pack.zip",
                testzip::Build(
                    {FileEntry("Audio/kept.wav", "replacement"), FileEntry("..", "no place for it"),
                     badCrc, FileEntry("Audio/2.wav", "two"), FileEntry("Audio/9.wav", "nine")}));

    const UnzipReport report = UnzipArchive(pack, m_dir.Dir());

    EXPECT_TRUE(report.opened);
    EXPECT_EQ(report.failed, 2u);
    EXPECT_EQ(report.firstFailure.rfind("Audio/1.wav ", 0), 0u) << report.firstFailure;
    EXPECT_EQ(m_dir.Read("Audio/2.wav"), "two");
    EXPECT_FALSE(UnzipArchive(m_dir.File("missing.zip"), m_dir.Dir()).opened);

    m_dir.Write("Audio.zip", testzip::Build({FileEntry("Audio/kept.wav", "replacement"),
                                             FileEntry("..", "no place for it")}));
    UnpackAudioPack();
    EXPECT_FALSE(m_dir.Exists("Audio.zip"));
    EXPECT_TRUE(PackErrors(m_dir).empty());
}

uint32_t Le(const std::string& bytes, size_t pos, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(pos + i));
    }
    return value;
}

// Walks the central directory by hand: the flag is what lets any unzip tool
// show the Chinese names, whatever the system's code page.
void ExpectUtf8FlagOnEveryEntry(const std::string& zip) {
    ASSERT_GE(zip.size(), 22u);
    const size_t end = zip.size() - 22;  // the pack carries no comment
    ASSERT_EQ(Le(zip, end, 4), 0x06054b50u);
    const uint32_t count = Le(zip, end + 10, 2);
    size_t pos = Le(zip, end + 16, 4);
    ASSERT_GT(count, 0u);
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(Le(zip, pos, 4), 0x02014b50u);
        const std::string name = zip.substr(pos + 46, Le(zip, pos + 28, 2));
        EXPECT_NE(Le(zip, pos + 8, 2) & 0x0800, 0u) << name;
        EXPECT_EQ(name.rfind("Audio/", 0), 0u) << name;
        pos += 46 + Le(zip, pos + 28, 2) + Le(zip, pos + 30, 2) + Le(zip, pos + 32, 2);
    }
}

// The pack the build makes from the committed clips, unpacked by the program:
// every clip arrives byte for byte under Audio/.
TEST_F(AudioPackTest, UnpacksTheProjectsOwnPack) {
    const std::string clips = std::string(VOICE_SOURCE_DIR) + "/audio/clips";
    const std::string command = "python3 '" + std::string(VOICE_SOURCE_DIR) +
                                "/audio/make_pack.py' '" + clips + "' '" + m_dir.File("Audio.zip") +
                                "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ExpectUtf8FlagOnEveryEntry(m_dir.Read("Audio.zip"));

    UnpackAudioPack();

    EXPECT_FALSE(m_dir.Exists("Audio.zip"));
    std::map<std::string, std::string> expected = {{"Audio/", ""}};
    for (const auto& [name, content] : Tree(clips)) {
        expected["Audio/" + name] = content;
    }
    ASSERT_GT(expected.size(), 1u);
    EXPECT_EQ(Tree(m_dir.Dir()), expected);
    EXPECT_EQ(expected.count("Audio/\xE5\x8D\x81.wav"), 1u);  // 十.wav
}

}  // namespace
