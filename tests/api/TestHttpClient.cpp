#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <future>
#include <ostream>
#include <string>

#include "api/HttpClient.h"
#include "api/TransferAbort.h"
#include "app/IniHelper.h"
#include "support/FakeWebApi.h"
#include "support/StalledListener.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

namespace {

const char* const kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
// Far beyond any limit the code under test sets: only guards against a hang.
const auto kHangGuard = std::chrono::seconds(120);

// Fake web API whose every path behaves as `behaviour` (a JSON object).
std::string Everywhere(const std::string& behaviour, const std::string& clips = "") {
    std::string config = R"({"responses": {"*": )" + behaviour + "}";
    if (!clips.empty()) {
        config += R"(, "clips": ")" + clips + "\"";
    }
    return config + "}";
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { m_saved = GetHttpLimits(); }
    void TearDown() override { SetHttpLimits(m_saved); }

    // Small clips folder served by the fake server.
    std::string MakeClips() {
        const std::string clips = m_dir.File("served");
        fs::create_directories(clips + "/sub");
        m_dir.Write("served/sub/a.wav", "RIFF-clip-bytes");
        return clips;
    }
    // Files in a folder, temporary leftovers included.
    static std::vector<std::string> Listing(const std::string& folder) {
        std::vector<std::string> names;
        if (fs::exists(folder)) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    TempProgramDir m_dir;
    HttpLimits m_saved;
};

struct PostCase {
    const char* name;
    const char* behaviour;
    bool ok;
    const char* answer;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const PostCase& c, std::ostream* os) {
    *os << c.name;
}

class HttpPostAnswers : public HttpClientTest, public ::testing::WithParamInterface<PostCase> {};

TEST_P(HttpPostAnswers, ResultFollowsStatusAndBody) {
    const PostCase& c = GetParam();
    FakeWebApi server(Everywhere(c.behaviour));
    ASSERT_TRUE(server.Running()) << server.Error();
    std::string answer;
    EXPECT_EQ(HttpPost(server.BaseUrl() + "/p", "a=1", answer), c.ok);
    EXPECT_EQ(answer, c.answer);
    // A POST is never redirected nor retried.
    EXPECT_EQ(server.Requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, HttpPostAnswers,
    ::testing::Values(
        PostCase{"ok_with_body", R"({"status": 200, "body": "hello"})", true, "hello"},
        PostCase{"created_with_body", R"({"status": 201, "body": "made"})", true, "made"},
        PostCase{"no_content", R"({"status": 204, "empty_body": true})", false, ""},
        PostCase{"ok_but_empty", R"({"status": 200, "empty_body": true})", false, ""},
        // Whatever arrived stays in the answer, also on failure.
        PostCase{"server_error", R"({"status": 500, "body": "boom"})", false, "boom"},
        PostCase{"redirect_not_followed",
                 R"({"status": 302, "body": "moved", "location": "/elsewhere"})", false, "moved"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpClientTest, PostSendsTheBodyByteForByteWithoutUserAgent) {
    FakeWebApi server(Everywhere(R"({"body": "ok"})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string body = "key=k&pwd=a&b=c 一号&x=%41";
    std::string answer;
    ASSERT_TRUE(HttpPost(server.BaseUrl() + "/api/x", body, answer));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/x");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(requests[0].HasHeader("User-Agent"));
}

TEST_F(HttpClientTest, PostToAClosedPortFails) {
    std::string baseUrl;
    {
        FakeWebApi gone;
        ASSERT_TRUE(gone.Running()) << gone.Error();
        baseUrl = gone.BaseUrl();
    }
    std::string answer;
    EXPECT_FALSE(HttpPost(baseUrl + "/p", "a=1", answer));
    EXPECT_EQ(answer, "");
}

TEST_F(HttpClientTest, PostTimeLimitEndsAWaitForAServerThatNeverAnswers) {
    FakeWebApi server(Everywhere(R"({"never_answer": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = 3;
    auto call = std::async(std::launch::async, [&] {
        std::string answer;
        return HttpPost(server.BaseUrl() + "/p", "a=1", answer);
    });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
}

// Without a time limit in the settings, a silent server must still not hold
// the login's wait dialog for ever: the default limit ends the wait.
TEST_F(HttpClientTest, PostWithoutTimeLimitStillGivesUpOnASilentServer) {
    FakeWebApi server(Everywhere(R"({"never_answer": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = 0;
    HttpLimits limits;
    limits.defaultTotalSeconds = 1;
    SetHttpLimits(limits);
    auto call = std::async(std::launch::async, [&] {
        std::string answer;
        return HttpPost(server.BaseUrl() + "/p", "a=1", answer);
    });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
}

// A negative limit in the settings file means the default limit, not "every
// request fails".
TEST_F(HttpClientTest, NegativeTimeOutMeansTheDefaultLimit) {
    FakeWebApi server(Everywhere(R"({"body": "ok", "delay": 1})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = -1;
    std::string answer;
    EXPECT_TRUE(HttpPost(server.BaseUrl() + "/p", "a=1", answer));
    EXPECT_EQ(answer, "ok");
}

struct LimitCase {
    long timeOut;  // the settings' TimeOut
    long total;    // the one limit that follows from it
};

// One rule a technician can read: TimeOut seconds for the whole request, 60
// when it is 0 or less, at most kMaxTimeOutSeconds; neither the connection nor
// a silent or trickling answer is cut before that.
TEST(HttpTimeLimits, TheTotalLimitIsTheOnlyTimeLimitOfARequest) {
    const LimitCase cases[] = {
        {0, 60},
        {-1, 60},
        {-100, 60},
        {1, 1},
        {10, 10},
        {45, 45},
        {120, 120},
        {kMaxTimeOutSeconds, kMaxTimeOutSeconds},
        {3000000, kMaxTimeOutSeconds},
        {INT_MAX, kMaxTimeOutSeconds},
    };
    const HttpLimits defaults;
    for (const LimitCase& c : cases) {
        const HttpTimeLimits limits = TimeLimitsFor(c.timeOut, defaults);
        EXPECT_EQ(limits.totalSeconds, c.total) << c.timeOut;
        EXPECT_EQ(limits.connectSeconds, c.total) << c.timeOut;
        EXPECT_EQ(limits.lowSpeedSeconds, 0) << c.timeOut;
    }
    HttpLimits shorter;
    shorter.defaultTotalSeconds = 5;
    EXPECT_EQ(TimeLimitsFor(0, shorter).totalSeconds, 5);
    EXPECT_EQ(TimeLimitsFor(7, shorter).totalSeconds, 7);
}

// A server that accepts and never sends a byte is ended by TimeOut, and the
// debug log says it was a time-out, not a refusal.
TEST_F(HttpClientTest, ASilentServerEndsInATimeOutAtTheLimit) {
    FakeWebApi server(Everywhere(R"({"never_answer": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = 1;
    IniHelper::GetInstance()->Settings().debug = true;
    auto call = std::async(std::launch::async, [&] {
        std::string answer;
        return HttpPost(server.BaseUrl() + "/p", "a=1", answer);
    });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
    IniHelper::GetInstance()->Settings().debug = false;
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(m_dir.LogText().find(std::string("请求失败: ") +
                                   curl_easy_strerror(CURLE_OPERATION_TIMEDOUT)),
              std::string::npos)
        << m_dir.LogText();
}

enum class Operation { Post, Download };

struct TimeCase {
    const char* name;
    const char* behaviour;  // JSON for every path
    int timeOut;            // the settings' TimeOut
    long defaultTotalSeconds;
    bool ok;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const TimeCase& c, std::ostream* os) {
    *os << c.name;
}

class TimeLimits : public HttpClientTest,
                   public ::testing::WithParamInterface<std::tuple<TimeCase, Operation>> {};

// A set TimeOut is the only time limit of a request: a server that is slow
// but within it gets through, also when it is slower than the default limit;
// one that is silent or stalls ends at the limit, or at the default limit when
// no TimeOut is set. Both operations follow the same rule.
TEST_P(TimeLimits, DecideHowLongARequestMayTake) {
    const auto& [c, operation] = GetParam();
    FakeWebApi server(Everywhere(c.behaviour));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = c.timeOut;
    HttpLimits limits;
    limits.defaultTotalSeconds = c.defaultTotalSeconds;
    SetHttpLimits(limits);
    const std::string target = m_dir.File("Audio/a.wav");
    auto call = std::async(std::launch::async, [&] {
        std::string answer;
        if (operation == Operation::Post) {
            return HttpPost(server.BaseUrl() + "/p", "a=1", answer) && answer == "abcd";
        }
        return DownloadFile(server.BaseUrl() + "/a.wav", target) &&
               m_dir.Read("Audio/a.wav") == "abcd";
    });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(call.get(), c.ok);
    if (!c.ok) {
        EXPECT_TRUE(Listing(m_dir.File("Audio")).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeLimits,
    ::testing::Combine(
        ::testing::Values(
            // Slower than the default limit, within TimeOut: not cut.
            TimeCase{"late_answer_within_timeout", R"({"body": "abcd", "delay": 2.5})", 6, 1, true},
            TimeCase{"pausing_body_within_timeout",
                     R"({"body": "abcd", "trickle": 2.5, "trickle_bytes": 2})", 6, 1, true},
            // "Never" written as a huge number is clamped, not refused.
            TimeCase{"huge_timeout", R"({"body": "abcd", "delay": 1.5})", 3000000, 1, true},
            TimeCase{"largest_int_timeout", R"({"body": "abcd"})", INT_MAX, 60, true},
            // Ended by TimeOut.
            TimeCase{"late_answer_beyond_timeout", R"({"body": "abcd", "delay": 30})", 1, 60,
                     false},
            TimeCase{"never_answers_within_timeout", R"({"never_answer": true})", 1, 60, false},
            TimeCase{"stalls_mid_body_with_timeout", R"({"stall_mid": true})", 1, 60, false},
            TimeCase{"trickles_beyond_timeout",
                     R"({"body": "abcdefghijklmnopqrstuvwxyz", "trickle": 0.5})", 2, 60, false},
            // No TimeOut: the default limit ends the request.
            TimeCase{"silent_within_default", R"({"body": "abcd", "delay": 2.5})", 0, 6, true},
            TimeCase{"never_answers_default", R"({"never_answer": true})", 0, 1, false},
            TimeCase{"stalls_mid_body_default", R"({"stall_mid": true})", 0, 1, false},
            TimeCase{"trickles_beyond_default",
                     R"({"body": "abcdefghijklmnopqrstuvwxyz", "trickle": 0.5})", 0, 2, false},
            TimeCase{"negative_timeout_default", R"({"never_answer": true})", -5, 1, false}),
        ::testing::Values(Operation::Post, Operation::Download)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == Operation::Post ? "_post" : "_download");
    });

// Shutdown must not wait for a stalled server: an abort from another thread
// ends the transfer under way long before any time limit would.
class AbortedTransfers : public HttpClientTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(AbortedTransfers, EndAStalledTransferAtOnce) {
    const Operation operation = GetParam();
    FakeWebApi server(Everywhere(R"({"stall_mid": true})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = 0;
    HttpLimits limits;
    limits.defaultTotalSeconds = 600;
    SetHttpLimits(limits);
    TransferAbort abort;
    auto call = std::async(std::launch::async, [&] {
        std::string answer;
        if (operation == Operation::Post) {
            return HttpPost(server.BaseUrl() + "/p", "a=1", answer, "a=1", &abort);
        }
        return DownloadFile(server.BaseUrl() + "/a.wav", m_dir.File("Audio/a.wav"), &abort);
    });
    while (server.Requests().empty() &&
           call.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout) {
    }
    abort.Abort();
    // Far below the limits set above: only an abort can end it this soon.
    ASSERT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(call.get());
    EXPECT_TRUE(Listing(m_dir.File("Audio")).empty());
}

INSTANTIATE_TEST_SUITE_P(Operations, AbortedTransfers,
                         ::testing::Values(Operation::Post, Operation::Download),
                         [](const auto& info) {
                             return std::string(info.param == Operation::Post ? "post"
                                                                              : "download");
                         });

TEST_F(HttpClientTest, AbortedBeforehandSendsNothing) {
    FakeWebApi server(Everywhere(R"({"body": "abcd"})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    TransferAbort abort;
    abort.Abort();
    std::string answer;
    EXPECT_FALSE(HttpPost(server.BaseUrl() + "/p", "a=1", answer, "a=1", &abort));
    EXPECT_FALSE(DownloadFile(server.BaseUrl() + "/a.wav", m_dir.File("a.wav"), &abort));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(m_dir.Exists("a.wav"));
}

TEST_F(HttpClientTest, TimeLimitEndsAWaitForAHostThatSwallowsConnections) {
    StalledListener stalled;
    if (!stalled.Ready()) {
        GTEST_SKIP() << "this kernel completes every loopback handshake";
    }
    IniHelper::GetInstance()->Settings().timeOut = 0;
    HttpLimits limits;
    limits.defaultTotalSeconds = 1;
    SetHttpLimits(limits);
    const std::string url = "http://127.0.0.1:" + std::to_string(stalled.Port());
    auto post = std::async(std::launch::async, [&] {
        std::string answer;
        return HttpPost(url + "/p", "a=1", answer);
    });
    auto download = std::async(std::launch::async,
                               [&] { return DownloadFile(url + "/a.wav", m_dir.File("a.wav")); });
    ASSERT_EQ(post.wait_for(kHangGuard), std::future_status::ready);
    ASSERT_EQ(download.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(post.get());
    EXPECT_FALSE(download.get());
    EXPECT_FALSE(m_dir.Exists("a.wav"));
}

TEST_F(HttpClientTest, PostGivesUpOnAnAnswerBeyondTheSizeLimit) {
    FakeWebApi server(Everywhere(R"({"huge_body": 3000000})"));
    ASSERT_TRUE(server.Running()) << server.Error();
    HttpLimits limits;
    limits.maxBodyBytes = 1000000;
    SetHttpLimits(limits);
    std::string answer;
    EXPECT_FALSE(HttpPost(server.BaseUrl() + "/p", "a=1", answer));
    EXPECT_LE(answer.size(), 1000000u);
}

TEST_F(HttpClientTest, DownloadTurnsBackslashesIntoSlashesAndSendsTheUserAgent) {
    FakeWebApi server(R"({"clips": ")" + MakeClips() + "\"}");
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::string target = m_dir.File("Audio/new/deeper/a.wav");
    ASSERT_TRUE(DownloadFile(server.BaseUrl() + "\\sub\\a.wav", target));
    EXPECT_EQ(m_dir.Read("Audio/new/deeper/a.wav"), "RIFF-clip-bytes");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/sub/a.wav");
    EXPECT_EQ(requests[0].Header("User-Agent"), kUserAgent);
    EXPECT_EQ(Listing(m_dir.File("Audio/new/deeper")), std::vector<std::string>{"a.wav"});
}

TEST_F(HttpClientTest, DownloadPathWithBackslashesLandsInFolders) {
    FakeWebApi server(R"({"clips": ")" + MakeClips() + "\"}");
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_TRUE(DownloadFile(server.BaseUrl() + "/sub/a.wav", m_dir.File("Audio\\\\x\\a.wav")));
    EXPECT_EQ(m_dir.Read("Audio/x/a.wav"), "RIFF-clip-bytes");
}

TEST_F(HttpClientTest, DownloadReplacesAnOlderFile) {
    FakeWebApi server(R"({"clips": ")" + MakeClips() + "\"}");
    ASSERT_TRUE(server.Running()) << server.Error();
    m_dir.Write("a.wav", "old and longer content");
    ASSERT_TRUE(DownloadFile(server.BaseUrl() + "/sub/a.wav", m_dir.File("a.wav")));
    EXPECT_EQ(m_dir.Read("a.wav"), "RIFF-clip-bytes");
}

TEST_F(HttpClientTest, DownloadFollowsFiveRedirects) {
    FakeWebApi server(R"({"clips": ")" + MakeClips() + "\"}");
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_TRUE(DownloadFile(server.BaseUrl() + "/redirect/5/sub/a.wav", m_dir.File("a.wav")));
    EXPECT_EQ(m_dir.Read("a.wav"), "RIFF-clip-bytes");
    EXPECT_EQ(server.Requests().size(), 6u);
}

struct FailedDownload {
    const char* name;
    const char* behaviour;  // JSON for every path; "" for the plain server
    const char* path;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const FailedDownload& c, std::ostream* os) {
    *os << c.name;
}

class DownloadFailures : public HttpClientTest,
                         public ::testing::WithParamInterface<FailedDownload> {};

// Whatever breaks, the target is absent afterwards (an older file included),
// and no temporary file is left beside it.
TEST_P(DownloadFailures, LeaveNothingAtTheTarget) {
    const FailedDownload& c = GetParam();
    const std::string clips = MakeClips();
    const std::string behaviour = c.behaviour;
    FakeWebApi server(behaviour.empty() ? R"({"clips": ")" + clips + "\"}"
                                        : Everywhere(behaviour, clips));
    ASSERT_TRUE(server.Running()) << server.Error();
    IniHelper::GetInstance()->Settings().timeOut = 0;
    HttpLimits limits;
    limits.defaultTotalSeconds = 1;
    limits.maxBodyBytes = 1000000;
    SetHttpLimits(limits);
    m_dir.Write("Audio/a.wav", "an older copy");

    auto call = std::async(std::launch::async, [&] {
        return DownloadFile(server.BaseUrl() + c.path, m_dir.File("Audio/a.wav"));
    });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
    EXPECT_TRUE(Listing(m_dir.File("Audio")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFailures,
    ::testing::Values(FailedDownload{"not_found", "", "/sub/missing.wav"},
                      FailedDownload{"six_redirects", "", "/redirect/6/sub/a.wav"},
                      FailedDownload{"server_error_with_body", R"({"status": 500, "body": "oops"})",
                                     "/sub/a.wav"},
                      FailedDownload{"cut_off_midway", R"({"close_mid": true})", "/sub/a.wav"},
                      FailedDownload{"stalls_midway", R"({"stall_mid": true})", "/sub/a.wav"},
                      FailedDownload{"never_answers", R"({"never_answer": true})", "/sub/a.wav"},
                      FailedDownload{"larger_than_the_limit", R"({"huge_body": 3000000})",
                                     "/sub/a.wav"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpClientTest, DownloadRefusesEmptyArguments) {
    EXPECT_FALSE(DownloadFile("", m_dir.File("a.wav")));
    EXPECT_FALSE(DownloadFile("http://127.0.0.1:1/a.wav", ""));
}

TEST_F(HttpClientTest, DownloadRefusesOtherProtocols) {
    m_dir.Write("secret.txt", "local file");
    EXPECT_FALSE(DownloadFile("file://" + m_dir.File("secret.txt"), m_dir.File("copy.txt")));
    EXPECT_FALSE(m_dir.Exists("copy.txt"));
}

}  // namespace
