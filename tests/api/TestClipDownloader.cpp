#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "api/ClipDownloader.h"
#include "api/HttpClient.h"
#include "app/IniHelper.h"
#include "support/FakeWebApi.h"
#include "support/OwnerQueue.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

namespace {

class ClipDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = GetHttpLimits();
        fs::create_directories(m_dir.File("served"));
        m_dir.Write("served/a.wav", "RIFF-a");
        m_dir.Write("served/b.wav", "RIFF-b");
    }
    void TearDown() override { SetHttpLimits(m_saved); }

    // A server for the clips folder; `behaviour` (JSON) overrides every path.
    std::string Config(const std::string& behaviour = "") const {
        std::string config = R"({"clips": ")" + m_dir.File("served") + "\"";
        if (!behaviour.empty()) {
            config += R"(, "responses": {"*": )" + behaviour + "}";
        }
        return config + "}";
    }
    TempProgramDir m_dir;
    HttpLimits m_saved;
    OwnerQueue m_owner;
};

TEST_F(ClipDownloaderTest, FetchesOnItsOwnThreadAndTellsTheOwnerOnItsThread) {
    FakeWebApi server(Config());
    ASSERT_TRUE(server.Running()) << server.Error();
    ClipDownloader downloader(m_owner.Poster());
    std::thread::id doneOn;
    downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"),
                     [&] { doneOn = std::this_thread::get_id(); });
    ASSERT_TRUE(m_owner.RunUntil([&] { return doneOn != std::thread::id(); }));
    EXPECT_EQ(doneOn, std::this_thread::get_id());
    EXPECT_EQ(m_dir.Read("Audio/_a.wav"), "RIFF-a");
}

// Two messages naming the same clip while it is on its way: one transfer, and
// both are told, in the order they asked.
TEST_F(ClipDownloaderTest, SamePathAskedAgainWhileFetchingIsFetchedOnce) {
    FakeWebApi server(Config(R"({"delay": 1})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    ClipDownloader downloader(m_owner.Poster());
    std::vector<std::string> told;
    downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"),
                     [&] { told.push_back("a1"); });
    downloader.Fetch(server.BaseUrl() + "/b.wav", m_dir.File("Audio/_b.wav"),
                     [&] { told.push_back("b"); });
    ASSERT_TRUE(server.WaitForRequests(1));
    // The first is under way now, the second still waits: ask for both again.
    downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"),
                     [&] { told.push_back("a2"); });
    downloader.Fetch(server.BaseUrl() + "/b.wav", m_dir.File("Audio/_b.wav"),
                     [&] { told.push_back("b2"); });
    ASSERT_TRUE(m_owner.RunUntil([&] { return told.size() == 4; }));
    EXPECT_EQ(told, (std::vector<std::string>{"a1", "a2", "b", "b2"}));
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(m_dir.Read("Audio/_a.wav"), "RIFF-a");
    EXPECT_EQ(m_dir.Read("Audio/_b.wav"), "RIFF-b");
}

// A flood of new names while the server stalls: beyond the bound each is
// dropped with an error line and its caller told at once, without waiting for
// the stalled transfer.
TEST_F(ClipDownloaderTest, WaitingDownloadsAreBounded) {
    FakeWebApi server(Config(R"({"never_answer": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    ClipDownloader downloader(m_owner.Poster(), 2);
    std::vector<int> told;
    downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_0.wav"),
                     [&] { told.push_back(0); });
    ASSERT_TRUE(server.WaitForRequests(1));
    for (int i = 1; i <= 4; ++i) {
        downloader.Fetch(server.BaseUrl() + "/a.wav",
                         m_dir.File("Audio/_" + std::to_string(i) + ".wav"),
                         [&told, i] { told.push_back(i); });
    }
    ASSERT_TRUE(m_owner.RunUntil([&] { return told.size() == 2; }));
    EXPECT_EQ(told, (std::vector<int>{3, 4}));
    const std::string log = m_dir.LogText();
    EXPECT_NE(log.find("ERROR"), std::string::npos);
    EXPECT_NE(log.find("下载队列已满，未下载: " + m_dir.File("Audio/_3.wav")), std::string::npos);
    EXPECT_NE(log.find("下载队列已满，未下载: " + m_dir.File("Audio/_4.wav")), std::string::npos);
}

struct FailedFetch {
    const char* name;
    const char* behaviour;
    int timeOut;
};

void PrintTo(const FailedFetch& c, std::ostream* os) {
    *os << c.name;
}

class FailedFetches : public ClipDownloaderTest,
                      public ::testing::WithParamInterface<FailedFetch> {};

// A failed transfer still tells its caller (the clip is announced and fails
// to open, as before), writes an error line and leaves no file that would
// later count as present.
TEST_P(FailedFetches, TellTheCallerAndLeaveNoFile) {
    const FailedFetch& c = GetParam();
    FakeWebApi server(Config(c.behaviour));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = c.timeOut;
    ClipDownloader downloader(m_owner.Poster());
    bool told = false;
    downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"), [&] { told = true; });
    ASSERT_TRUE(m_owner.RunUntil([&] { return told; }));
    EXPECT_TRUE(!fs::exists(m_dir.File("Audio")) || fs::is_empty(m_dir.File("Audio")));
    EXPECT_NE(m_dir.LogText().find("下载语音失败: " + server.BaseUrl() + "/a.wav"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedFetches,
    ::testing::Values(FailedFetch{"not_found", R"({"status": 404, "body": "no"})", 0},
                      FailedFetch{"stalls_mid_body", R"({"stall_mid": true})", 1},
                      FailedFetch{"never_answers", R"({"never_answer": true})", 1},
                      FailedFetch{"trickles", R"({"body": "abcdefghij", "trickle": 0.5})", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Shutdown in the middle of a stalled transfer: Stop returns at once (long
// before any time limit), drops what waits, and tells nobody afterwards.
TEST_F(ClipDownloaderTest, StopEndsAStalledTransferAtOnce) {
    FakeWebApi server(Config(R"({"stall_mid": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    HttpLimits limits;
    limits.defaultTotalSeconds = 600;
    SetHttpLimits(limits);
    int told = 0;
    {
        ClipDownloader downloader(m_owner.Poster());
        downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"), [&] { ++told; });
        downloader.Fetch(server.BaseUrl() + "/b.wav", m_dir.File("Audio/_b.wav"), [&] { ++told; });
        ASSERT_TRUE(server.WaitForRequests(1));
        auto stopped = std::async(std::launch::async, [&] { downloader.Stop(); });
        ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        downloader.Fetch(server.BaseUrl() + "/a.wav", m_dir.File("Audio/_a.wav"), [&] { ++told; });
    }
    EXPECT_EQ(m_owner.Waiting(), 0u);
    EXPECT_EQ(told, 0);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(fs::is_empty(m_dir.File("Audio")));
}

}  // namespace
