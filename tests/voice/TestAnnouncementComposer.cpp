#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/LoopbackPeers.h"
#include "support/TempProgramDir.h"
#include "voice/AnnouncementComposer.h"

namespace {

const char* const kStaff = "工作人员请注意.wav";
const char* const kWaiter = "号机需要服务员帮助.mp3";

// One message as the protocol hands it over: comma form when `dot` is false.
struct Message {
    bool dot = false;
    std::string subject;
    std::string detail;
    std::string code;
};

Message Comma(std::string subject, std::string code) {
    return {false, std::move(subject), "", std::move(code)};
}
Message Dot(std::string subject, std::string detail, std::string code) {
    return {true, std::move(subject), std::move(detail), std::move(code)};
}

std::ostream& operator<<(std::ostream& out, const Message& m) {
    return m.dot ? out << m.subject << '.' << m.detail << '#' << m.code
                 : out << m.subject << ',' << m.code;
}

// The composer with its three hand-offs: the queue it fills, the store's
// WeChat switch, and a fetch of server clips that serves the files of
// `m_server` (a path it does not hold fails, writing nothing) and records
// every path asked for.
class ComposerFixture {
public:
    ComposerFixture()
        : m_composer([this](const Announcement& a) { m_queued.push_back(a); },
                     [this] { return m_wxOpen; },
                     [this](const std::string& serverPath, const std::string& localPath,
                            std::function<void()> done) {
                         m_fetched.push_back(serverPath);
                         if (const auto file = m_server.find(serverPath); file != m_server.end()) {
                             std::filesystem::create_directories(
                                 std::filesystem::path(localPath).parent_path());
                             std::ofstream(localPath, std::ios::binary) << file->second;
                         }
                         done();
                     }) {}

    void Send(const Message& m) {
        if (m.dot) {
            m_composer.ComposeDotMessage(m.subject, m.detail, m.code);
        } else {
            m_composer.ComposeCommaMessage(m.subject, m.code);
        }
    }
    // What one message queues: nothing, or exactly one announcement.
    Announcement Compose(const Message& m) {
        m_queued.clear();
        Send(m);
        EXPECT_LE(m_queued.size(), 1u) << m;
        return m_queued.empty() ? Announcement{} : m_queued.front();
    }

    TempProgramDir m_dir;
    std::vector<Announcement> m_queued;
    bool m_wxOpen = false;
    std::map<std::string, std::string> m_server;  // server path -> clip bytes
    std::vector<std::string> m_fetched;
    AnnouncementComposer m_composer;
};

struct ComposeCase {
    Message message;
    Announcement clips;  // empty: nothing is queued
    bool wxOpen = false;
};

void PrintTo(const ComposeCase& c, std::ostream* out) {
    *out << c.message << (c.wxOpen ? " (wxOpen)" : "");
}

class ComposeTest : public testing::TestWithParam<ComposeCase> {};

TEST_P(ComposeTest, QueuesClips) {
    ComposerFixture f;
    f.m_wxOpen = GetParam().wxOpen;
    EXPECT_EQ(f.Compose(GetParam().message), GetParam().clips);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ComposeTest,
    testing::Values(
        ComposeCase{Comma("12", "101"), {kStaff, "1.wav", "十.wav", "2.wav", kWaiter}},
        ComposeCase{Comma("a12", "101"), {kStaff, "1.wav", "十.wav", "2.wav", kWaiter}},
        ComposeCase{Comma("0", "101"), {kStaff, kWaiter}},
        ComposeCase{Comma("a05", "103"), {kStaff, "0.wav", "5.wav", "号机需要技术员帮助.mp3"}},
        ComposeCase{Comma("7", "102"), {kStaff, "7.wav", "号机需要保洁员帮助.mp3"}},
        ComposeCase{Comma("VIP", "101"), {kStaff, kWaiter}}, ComposeCase{Comma("12-3", "101"), {}},
        ComposeCase{Comma("１２", "101"), {}},  // full-width digits
        ComposeCase{Comma("12 ", "101"), {}}, ComposeCase{Comma("12.5", "7"), {}},
        ComposeCase{Comma("2000", "101"), {}}, ComposeCase{Comma("2000", "98"), {}},
        ComposeCase{Comma("20", "104"), {}},
        ComposeCase{Comma("20", "104"),
                    {kStaff, "2.wav", "十.wav", "号机已下机请保洁员及时清理桌面.wav"},
                    true},
        ComposeCase{Comma("a-1", "104"), {}, true},  // a refused seat wins over wxOpen
        ComposeCase{Comma("12", "download"), {}}, ComposeCase{Comma("x", "130"), {"wxts.mp3"}},
        ComposeCase{Comma("@!", "98"), {"提示音.wav", "用餐时间.mp3"}},
        ComposeCase{Comma("CX_START", "99"), {"提示音.wav", "促销开始.mp3"}},
        ComposeCase{Comma("CX_ADV_END", "99"),
                    {"提示音.wav", "结束1.mp3", "3.wav", "十.wav", "结束2.mp3"}},
        ComposeCase{Comma("cx_start", "99"), {}},
        ComposeCase{Comma("8", "2"), {"提示音2.wav", "哇哦.mp3", "8.wav", "英雄联盟特权.mp3"}},
        ComposeCase{Comma("8", "4"), {}}, ComposeCase{Comma("12", "101\r\n"), {}},
        ComposeCase{Comma("12", "10113,102"), {}},
        ComposeCase{
            Comma("A1B2", "0"),
            {"提示音.wav", kStaff, "1.wav", "十.wav", "2.wav", "号机已购买商品请网管尽快送到.wav"}},
        ComposeCase{Comma("1005", "1"),
                    {"提示音b.wav", kStaff, "1.wav", "千.wav", "0.wav", "5.wav",
                     "号机已在线付款充值网费请及时处理.wav"}},
        ComposeCase{Comma("12345", "3"),
                    {"提示音2.wav", "1.wav", "2.wav", "千.wav", "3.wav", "百.wav", "4.wav",
                     "十.wav", "5.wav", "吃鸡特权.mp3"}},
        ComposeCase{Comma("vip", "5"), {"提示音.wav", kStaff, "号机已购买商品请尽快送到.wav"}},
        ComposeCase{Comma("007", "6"),
                    {"提示音b.wav", kStaff, "0.wav", "7.wav", "号机已充值网费请及时处理.wav"}},
        ComposeCase{Comma("3", "7"),
                    {"提示音.wav", kStaff, "3.wav", "号机已在线付款购买商品请尽快送到.wav"}},
        ComposeCase{Comma("3", "8"),
                    {"提示音b.wav", kStaff, "3.wav", "号机已在线付款充值网费请及时处理.wav"}},
        ComposeCase{
            Dot("5", "12", "7"),
            {"提示音.wav", kStaff, "5.wav", "onlinePay.wav", "1.wav", "2.wav", "waiter.wav"}},
        ComposeCase{Dot("12", "5", "6"),
                    {"提示音b.wav", kStaff, "1.wav", "十.wav", "2.wav", "cashPay.wav", "5.wav",
                     "waiter.wav"}},
        ComposeCase{
            Dot("3", "x9", "8"),
            {"提示音b.wav", kStaff, "3.wav", "callAdmin.wav", "x.wav", "9.wav", "quick.wav"}},
        ComposeCase{Dot("3", "", "8"),
                    {"提示音b.wav", kStaff, "3.wav", "callAdmin.wav", "quick.wav"}},
        ComposeCase{Dot("5", "", "9"), {"5.wav", "placeorder.wav"}},
        ComposeCase{Dot("a1", "", "10"), {"1.wav", "buyOther.wav"}},
        ComposeCase{Dot("b", "77", "11"), {"payOther.wav"}}, ComposeCase{Dot("5", "3", "12"), {}},
        ComposeCase{Dot("5", "3", "2"), {}}, ComposeCase{Dot("1-2", "5", "7"), {}},
        ComposeCase{Dot("2000", "5", "9"), {"2.wav", "千.wav", "placeorder.wav"}}));

struct NumberCase {
    std::vector<int> digits;
    std::vector<std::string> clips;  // without ".wav"
};

void PrintTo(const NumberCase& c, std::ostream* out) {
    for (const int d : c.digits) {
        *out << d;
    }
}

class ReadNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTest, SpeaksDigitsAndUnits) {
    Announcement list{"before"};
    AnnouncementComposer::ReadNumber(GetParam().digits, list);
    Announcement expected{"before"};
    for (const auto& clip : GetParam().clips) {
        expected.push_back(clip + ".wav");
    }
    EXPECT_EQ(list, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, ReadNumberTest,
    testing::Values(
        NumberCase{{7}, {"7"}}, NumberCase{{0}, {}}, NumberCase{{1, 0}, {"1", "十"}},
        NumberCase{{1, 1}, {"1", "十", "1"}}, NumberCase{{2, 0}, {"2", "十"}},
        NumberCase{{1, 0, 0}, {"1", "百"}}, NumberCase{{1, 0, 1}, {"1", "百", "0", "1"}},
        NumberCase{{1, 1, 0}, {"1", "百", "1", "十"}}, NumberCase{{1, 0, 0, 0}, {"1", "千"}},
        NumberCase{{1, 0, 0, 5}, {"1", "千", "0", "5"}},
        NumberCase{{1, 0, 5, 0}, {"1", "千", "0", "5", "十"}},
        NumberCase{{1, 5, 0, 0}, {"1", "千", "5", "百"}}, NumberCase{{0, 0, 7}, {"0", "7"}},
        NumberCase{{1, 2, 3, 4, 5}, {"1", "2", "千", "3", "百", "4", "十", "5"}},
        NumberCase{{1, 0, 0, 0, 0}, {"1"}}, NumberCase{{}, {}}));

TEST(DigitClipTest, MapsDigitsAndUnitsOnly) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "0.wav"}, {9, "9.wav"}, {10, "十.wav"}, {100, "百.wav"}, {1000, "千.wav"},
        {11, ""},     {-1, ""},     {20, ""},       {10000, ""}};
    for (const auto& [value, clip] : cases) {
        EXPECT_EQ(AnnouncementComposer::DigitClip(value), clip) << value;
    }
}

TEST(ComposerLogTest, DotHandlersWriteTheirNameAtInfo) {
    ComposerFixture f;
    const std::vector<std::pair<Message, std::string>> cases = {
        {Dot("1", "2", "6"), "HandleCashPay"},   {Dot("1", "2", "7"), "HandleOnlinePay"},
        {Dot("1", "2", "8"), "HandleCallAdmin"}, {Dot("1", "", "9"), "HandlePlaceOrder"},
        {Dot("1", "", "10"), "HandleBuyOther"},  {Dot("1", "", "11"), "HandlePayOther"}};
    for (const auto& [message, name] : cases) {
        f.Send(message);
        EXPECT_NE(ReadProgramLogs(f.m_dir.Dir()).find("INFO  :" + name), std::string::npos)
            << name << "\n"
            << ReadProgramLogs(f.m_dir.Dir());
    }
}

// Server clips of code "200": fetched once into the audio folder.
class CustomClipTest : public testing::Test {
protected:
    ComposerFixture f;
};

TEST_F(CustomClipTest, DownloadsOnceAndQueuesTheLocalName) {
    f.m_server["/a/b.mp3"] = "ID3-clip-bytes";
    EXPECT_EQ(f.Compose(Comma("/a/b.mp3", "200")), Announcement{"_a_b.mp3"});
    EXPECT_EQ(f.m_dir.Read("Audio/_a_b.mp3"), "ID3-clip-bytes");
    EXPECT_EQ(f.Compose(Comma("/a/b.mp3", "200")), Announcement{"_a_b.mp3"});
    EXPECT_EQ(f.m_fetched, std::vector<std::string>{"/a/b.mp3"});
}

TEST_F(CustomClipTest, MissingClipIsQueuedAndTriedAgainNextTime) {
    EXPECT_EQ(f.Compose(Comma("/gone.mp3", "200")), Announcement{"_gone.mp3"});
    EXPECT_FALSE(f.m_dir.Exists("Audio/_gone.mp3"));
    f.m_server["/gone.mp3"] = "now-here";
    EXPECT_EQ(f.Compose(Comma("/gone.mp3", "200")), Announcement{"_gone.mp3"});
    EXPECT_EQ(f.m_dir.Read("Audio/_gone.mp3"), "now-here");
    EXPECT_EQ(f.m_fetched, (std::vector<std::string>{"/gone.mp3", "/gone.mp3"}));
}

TEST_F(CustomClipTest, PresentFileIsNotFetched) {
    f.m_dir.Write("Audio/_ad.mp3", "local");
    EXPECT_EQ(f.Compose(Comma("/ad.mp3", "200")), Announcement{"_ad.mp3"});
    EXPECT_TRUE(f.m_fetched.empty());
}

TEST_F(CustomClipTest, DotsInsideANameAreNoParentStep) {
    f.m_server["/a..b/c..mp3"] = "x";
    EXPECT_EQ(f.Compose(Comma("/a..b/c..mp3", "200")), Announcement{"_a..b_c..mp3"});
    EXPECT_EQ(f.m_fetched.size(), 1u);
}

// Paths that could reach another host or a file outside the audio folder:
// nothing fetched, nothing written, nothing queued, one error line each.
TEST_F(CustomClipTest, RefusesUnsafePaths) {
    const std::string other = "127.0.0.1:18081";
    const std::vector<std::string> subjects = {
        "@" + other + "/x.mp3",
        "/@" + other + "/x.mp3",
        "x.mp3",
        "../x.mp3",
        "/../x.mp3",
        "/a/../../x.mp3",
        "/a/..",
        "/..",
        "/a\\..\\..\\x.mp3",
        "\\x.mp3",
        "/a b.mp3",
        "/a\tb.mp3",
        "/x.mp3\r\n",
        std::string("/x\0.mp3", 7),
        "/x\x7f.mp3",
    };
    const std::string kRefused = "服务器语音路径不合法";
    size_t lines = 0;
    for (const auto& subject : subjects) {
        EXPECT_TRUE(f.Compose(Comma(subject, "200")).empty()) << subject;
        const std::string log = ReadProgramLogs(f.m_dir.Dir());
        size_t count = 0;
        for (size_t at = log.find(kRefused); at != std::string::npos;
             at = log.find(kRefused, at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, ++lines) << subject;
    }
    EXPECT_TRUE(f.m_fetched.empty());
    EXPECT_FALSE(f.m_dir.Exists("Audio"));
    EXPECT_FALSE(f.m_dir.Exists("x.mp3"));
    // Control bytes of a refused path never reach the log raw.
    EXPECT_EQ(ReadProgramLogs(f.m_dir.Dir()).find("/x.mp3\r"), std::string::npos);
}

}  // namespace
