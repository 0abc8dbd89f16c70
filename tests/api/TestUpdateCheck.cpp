#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "api/HttpClient.h"
#include "api/UpdateCheck.h"
#include "app/IniHelper.h"
#include "support/FakeWebApi.h"
#include "support/OwnerQueue.h"
#include "support/TempProgramDir.h"

namespace {

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = GetHttpLimits();
        Settings().storeId = "88";
    }
    void TearDown() override { SetHttpLimits(m_saved); }
    AppSettings& Settings() { return IniHelper::GetInstance()->Settings(); }

    TempProgramDir m_dir;
    HttpLimits m_saved;
    OwnerQueue m_owner;
};

struct Outcome {
    bool told = false;
    bool ok = false;
    std::string answer;
    std::thread::id on;
};

UpdateCheck::Result Record(Outcome& outcome) {
    return [&outcome](bool ok, const std::string& answer) {
        outcome = Outcome{true, ok, answer, std::this_thread::get_id()};
    };
}

// The answer held back for a while: Start returns while the request waits,
// and the address arrives on the owner's thread once the server answers.
TEST_F(UpdateCheckTest, AHeldAnswerArrivesLaterOnTheOwnersThread) {
    FakeWebApi server(R"({"update_url": "http://127.0.0.1/u.zip",
                          "responses": {"*": {"delay": 1.5}}})");
    ASSERT_TRUE(server.Running()) << server.Error();
    Settings().url = server.BaseUrl();
    UpdateCheck check(m_owner.Poster());
    Outcome outcome;
    ASSERT_TRUE(check.Start(Record(outcome)));
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_FALSE(outcome.told);
    ASSERT_TRUE(m_owner.RunUntil([&] { return outcome.told; }));
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.answer, "http://127.0.0.1/u.zip");
    EXPECT_EQ(outcome.on, std::this_thread::get_id());
    // Once per run.
    EXPECT_FALSE(check.Start(Record(outcome)));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(UpdateCheckTest, AFailureIsDeliveredAsNetworkError) {
    FakeWebApi server(R"({"responses": {"*": {"never_answer": true}}})");
    ASSERT_TRUE(server.Running()) << server.Error();
    Settings().url = server.BaseUrl();
    Settings().timeOut = 1;
    UpdateCheck check(m_owner.Poster());
    Outcome outcome;
    ASSERT_TRUE(check.Start(Record(outcome)));
    ASSERT_TRUE(m_owner.RunUntil([&] { return outcome.told; }));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.answer, "网络错误.");
}

// Shutdown while the server holds the answer: Stop returns long before any
// time limit, and nothing is delivered afterwards.
TEST_F(UpdateCheckTest, StopEndsAHeldRequestAtOnce) {
    FakeWebApi server(R"({"responses": {"*": {"never_answer": true}}})");
    ASSERT_TRUE(server.Running()) << server.Error();
    Settings().url = server.BaseUrl();
    HttpLimits limits;
    limits.defaultTotalSeconds = 600;
    SetHttpLimits(limits);
    Outcome outcome;
    {
        UpdateCheck check(m_owner.Poster());
        ASSERT_TRUE(check.Start(Record(outcome)));
        ASSERT_TRUE(server.WaitForRequests(1));
        auto stopped = std::async(std::launch::async, [&] { check.Stop(); });
        ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        EXPECT_FALSE(check.Start(Record(outcome)));
    }
    EXPECT_EQ(m_owner.Waiting(), 0u);
    EXPECT_FALSE(outcome.told);
}

}  // namespace
