// The pause list Audio/Audio.xml: what reading takes from a file, what saving
// writes, and that a failed save says so and keeps the old list.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/TempProgramDir.h"
#include "voice/PauseList.h"

namespace {
const char* const kOpenFailed = "GetPauseProList 打开Audio.xml文件失败.";
const char* const kNoAudios = "GetPauseProList 获取Audios节点失败.";

struct ReadCase {
    const char* name;
    const char* content;  // nullptr: no file
    bool ok;
    std::vector<std::string> names;  // appended after what the list held
    const char* logLine;             // nullptr: nothing logged
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class PauseListRead : public ::testing::TestWithParam<ReadCase> {
protected:
    TempProgramDir m_dir;
};

TEST_P(PauseListRead, TakesTheFirstAttributeOfEachElementFromTheFirstAudioOn) {
    const ReadCase& c = GetParam();
    if (c.content != nullptr) {
        m_dir.Write("Audio/Audio.xml", c.content);
    }
    std::vector<std::string> names = {"OLD"};
    EXPECT_EQ(GetPauseProList(names), c.ok);
    std::vector<std::string> expected = {"OLD"};
    expected.insert(expected.end(), c.names.begin(), c.names.end());
    EXPECT_EQ(names, expected);
    const std::string log = m_dir.LogText();
    if (c.logLine == nullptr) {
        EXPECT_EQ(log, "");
    } else {
        EXPECT_NE(log.find(std::string(" ERROR ") + " :" + c.logLine + "\n"), std::string::npos)
            << log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PauseListRead,
    ::testing::Values(
        ReadCase{"TwoNamesOneEmpty",
                 "<Audios><Audio Name=\"qqmusic.exe\"/><Audio Name=\"\"/></Audios>",
                 true,
                 {"QQMUSIC.EXE"},
                 nullptr},
        ReadCase{"DeclarationAndComment",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- list -->\n"
                 "<Audios>\n  <Audio Name=\"Chrome.exe\"/>\n  <Audio Name=\"酷狗.exe\"/>\n"
                 "</Audios>\n",
                 true,
                 {"CHROME.EXE", "酷狗.EXE"},
                 nullptr},
        ReadCase{"OtherElementsAfterTheFirstAudioCount",
                 "<Audios><X Name=\"a\"/><Audio Name=\"b\"/><Other Name=\"c\"/><Audio/>"
                 "<Audio Path=\"p.exe\" Name=\"n.exe\"/></Audios>",
                 true,
                 {"B", "C", "P.EXE"},
                 nullptr},
        ReadCase{"EmptyList", "<Audios/>", true, {}, nullptr},
        ReadCase{"NoAudioElement", "<Audios><Program Name=\"x\"/></Audios>", true, {}, nullptr},
        ReadCase{
            "NoAudiosElement", "<Programs><Audio Name=\"x\"/></Programs>", false, {}, kNoAudios},
        ReadCase{"Malformed", "<Audios><Audio Name=\"x\"></Audios>", false, {}, kOpenFailed},
        ReadCase{"EmptyFile", "", false, {}, kOpenFailed},
        ReadCase{"NoFile", nullptr, false, {}, kOpenFailed}),
    [](const auto& info) { return std::string(info.param.name); });

class PauseListSave : public ::testing::Test {
protected:
    TempProgramDir m_dir;
};

TEST_F(PauseListSave, WritesTheNamesAsGivenAndReadsThemBackUpperCased) {
    const std::vector<std::vector<std::string>> lists = {
        {"qqmusic.exe", "Chrome.exe", "酷狗音乐.exe", "a&b<\"c\">'.exe"}, {}};
    for (const auto& list : lists) {
        ASSERT_TRUE(SavePauseProList(list));
        const std::string text = m_dir.Read("Audio/Audio.xml");
        EXPECT_EQ(text.rfind("<Audios", 0), 0u) << "no declaration: " << text;
        if (!list.empty()) {
            EXPECT_NE(text.find("Name=\"Chrome.exe\""), std::string::npos) << text;
        }
        std::vector<std::string> names;
        ASSERT_TRUE(GetPauseProList(names));
        std::vector<std::string> upper;
        for (const std::string& name : list) {
            std::string u = name;
            for (char& ch : u) {
                if (ch >= 'a' && ch <= 'z') {
                    ch = static_cast<char>(ch - 'a' + 'A');
                }
            }
            upper.push_back(u);
        }
        EXPECT_EQ(names, upper);
    }
}

TEST_F(PauseListSave, MakesTheAudioFolderWhenItIsMissing) {
    std::filesystem::remove_all(m_dir.File("Audio"));
    ASSERT_TRUE(SavePauseProList({"x.exe"}));
    std::vector<std::string> names;
    ASSERT_TRUE(GetPauseProList(names));
    EXPECT_EQ(names, std::vector<std::string>{"X.EXE"});
}

TEST_F(PauseListSave, AFailedSaveReportsItAndKeepsTheOldList) {
    ASSERT_TRUE(SavePauseProList({"old.exe"}));
    {
        ReadOnlyDir readOnly(m_dir.File("Audio"));
        if (!readOnly.Effective()) {
            GTEST_SKIP() << "the folder cannot be made read-only here";
        }
        EXPECT_FALSE(SavePauseProList({"new.exe"}));
    }
    std::vector<std::string> names;
    ASSERT_TRUE(GetPauseProList(names));
    EXPECT_EQ(names, std::vector<std::string>{"OLD.EXE"});
    EXPECT_FALSE(m_dir.Exists("Audio/Audio.xml.tmp"));
    // Nor any other temporary beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.File("Audio")),
                            std::filesystem::directory_iterator()),
              1);
}
}  // namespace
