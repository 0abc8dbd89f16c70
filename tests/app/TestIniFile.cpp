#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/IniFile.h"
#include "support/TempProgramDir.h"

namespace {

struct ReadCase {
    const char* name;
    std::string file;  // empty: no file at all
    std::string text;  // ReadString of WebSetting/Url, fallback "none"
    int number;        // ReadInt of WebSetting/volume, fallback 77
};

class IniRead : public ::testing::TestWithParam<ReadCase> {
protected:
    TempProgramDir m_dir;
};

TEST_P(IniRead, FollowsTheProfileRules) {
    if (!GetParam().file.empty()) {
        m_dir.Write("Setting.ini", GetParam().file);
    }
    const IniFile ini(m_dir.File("Setting.ini"));
    EXPECT_EQ(ini.ReadString("WebSetting", "Url", "none"), GetParam().text);
    EXPECT_EQ(ini.ReadInt("WebSetting", "volume", 77), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniRead,
    ::testing::Values(
        ReadCase{"NoFile", "", "none", 77},
        ReadCase{"Plain", "[WebSetting]\nUrl=http://h:1\nvolume=75\n", "http://h:1", 75},
        ReadCase{"NamesIgnoreCase", "[websetting]\nURL=x\nVOLUME=5\n", "x", 5},
        ReadCase{"BlanksTrimmed", "  [ WebSetting ]  \n  Url  =  a b  \n\tvolume\t=\t9\t\n", "a b",
                 9},
        ReadCase{"QuotesStripped", "[WebSetting]\nUrl=\"http://q\"\nvolume='12'\n", "http://q", 12},
        ReadCase{"OnlyOnePairOfQuotes", "[WebSetting]\nUrl=\"\"x\"\"\n", "\"x\"", 77},
        ReadCase{"UnmatchedQuoteKept", "[WebSetting]\nUrl=\"x\n", "\"x", 77},
        ReadCase{"CrlfAndBom", "\xEF\xBB\xBF[WebSetting]\r\nUrl=u\r\nvolume=3\r\n", "u", 3},
        ReadCase{"NoLastLineEnd", "[WebSetting]\nvolume=4", "none", 4},
        ReadCase{"OtherSectionIgnored", "[Other]\nUrl=o\nvolume=1\n[WebSetting]\n", "none", 77},
        ReadCase{"KeyAfterOtherSection", "[WebSetting]\nUrl=w\n[Other]\nvolume=1\n", "w", 77},
        ReadCase{"FirstKeyWins", "[WebSetting]\nvolume=1\nvolume=2\n", "none", 1},
        ReadCase{"ValueMayHoldEquals", "[WebSetting]\nUrl=a=b\n", "a=b", 77},
        ReadCase{"WordReadsZero", "[WebSetting]\nvolume=yes\n", "none", 0},
        ReadCase{"LeadingNumberRead", "[WebSetting]\nvolume=42abc\n", "none", 42},
        ReadCase{"Signs", "[WebSetting]\nvolume=-3\n", "none", -3},
        ReadCase{"PlusSign", "[WebSetting]\nvolume=+8\n", "none", 8},
        ReadCase{"EmptyValueIsTheDefault", "[WebSetting]\nUrl=\nvolume=\n", "", 77},
        ReadCase{"HugeNumberSaturates", "[WebSetting]\nvolume=99999999999999999999\n", "none",
                 2147483647},
        ReadCase{"BrokenSectionLine", "[WebSetting\nvolume=6\n", "none", 6},
        ReadCase{"Garbage", std::string("\0\xFF[\n=\n\n", 7), "none", 77}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    std::string before;  // empty: no file
    std::string after;   // after writing WebSetting/volume=50
};

class IniWrite : public ::testing::TestWithParam<WriteCase> {
protected:
    TempProgramDir m_dir;
};

TEST_P(IniWrite, ChangesOneKeyAndKeepsEveryOtherLine) {
    if (!GetParam().before.empty()) {
        m_dir.Write("Setting.ini", GetParam().before);
    }
    const IniFile ini(m_dir.File("Setting.ini"));
    ASSERT_TRUE(ini.WriteString("WebSetting", "volume", "50"));
    EXPECT_EQ(m_dir.Read("Setting.ini"), GetParam().after);
    EXPECT_EQ(ini.ReadInt("WebSetting", "volume", 0), 50);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniWrite,
    ::testing::Values(
        WriteCase{"NewFile", "", "[WebSetting]\r\nvolume=50\r\n"},
        WriteCase{"ReplacesInPlace", "; note\n[WebSetting]\nUrl=u\nVolume = 7\nshield=0\n",
                  "; note\n[WebSetting]\nUrl=u\nvolume=50\nshield=0\n"},
        WriteCase{"AddsKeyToItsSection", "[WebSetting]\nUrl=u\n\n[Other]\nx=1\n",
                  "[WebSetting]\nUrl=u\nvolume=50\n\n[Other]\nx=1\n"},
        WriteCase{"AddsSection", "[Other]\nx=1\n\n", "[Other]\nx=1\n[WebSetting]\nvolume=50\n"},
        WriteCase{"KeepsCrlfAndBom", "\xEF\xBB\xBF[WebSetting]\r\nvolume=1\r\nshield=1\r\n",
                  "\xEF\xBB\xBF[WebSetting]\r\nvolume=50\r\nshield=1\r\n"},
        WriteCase{"OtherSectionsKeyUntouched", "[Other]\nvolume=1\n[WebSetting]\n",
                  "[Other]\nvolume=1\n[WebSetting]\nvolume=50\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniWriteFailure, AnUnwritableFolderKeepsTheOldFile) {
    TempProgramDir dir;
    dir.Write("Setting.ini", "[WebSetting]\nvolume=10\n");
    const IniFile ini(dir.File("Setting.ini"));
    ReadOnlyDir readOnly(dir.Dir());
    if (!readOnly.Effective()) {
        GTEST_SKIP() << "cannot make a folder unwritable here";
    }
    EXPECT_FALSE(ini.WriteString("WebSetting", "volume", "50"));
    EXPECT_EQ(dir.Read("Setting.ini"), "[WebSetting]\nvolume=10\n");
}

TEST(IniWriteFailure, AFileMadeReadOnlyIsKept) {
    TempProgramDir dir;
    const std::string mine = "[WebSetting]\nvolume=10\n";
    dir.Write("Setting.ini", mine);
    ::chmod(dir.File("Setting.ini").c_str(), 0444);
    {
        ObeyPermissions obey;
        const IniFile ini(dir.File("Setting.ini"));
        EXPECT_EQ(ini.ReadInt("WebSetting", "volume", 77), 10);
        // The folder is writable, so only the file's own mode can refuse this.
        EXPECT_FALSE(ini.WriteString("WebSetting", "volume", "50"));
    }
    EXPECT_EQ(dir.Read("Setting.ini"), mine);
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("Setting.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary left beside it";
}

TEST(IniWriteFailure, AFileThatCannotBeReadIsNeverReplaced) {
    TempProgramDir dir;
    const std::string mine = "; mine\n[WebSetting]\nvolume=10\nUrl=http://h\n";
    dir.Write("Setting.ini", mine);
    ::chmod(dir.File("Setting.ini").c_str(), 0200);
    {
        ObeyPermissions obey;
        const IniFile ini(dir.File("Setting.ini"));
        if (ini.ReadString("WebSetting", "Url", "") == "http://h") {
            GTEST_SKIP() << "cannot make a file unreadable here";
        }
        EXPECT_EQ(ini.ReadInt("WebSetting", "volume", 77), 77);
        EXPECT_FALSE(ini.WriteString("WebSetting", "volume", "50"));
    }
    ::chmod(dir.File("Setting.ini").c_str(), 0600);
    EXPECT_EQ(dir.Read("Setting.ini"), mine);
}

}  // namespace
