// The built program against a web API that stalls, trickles, answers late or
// never answers, while a cashier keeps sending: every message gets its "OK"
// at once, a clip that has to be fetched is spoken once it is there, and
// SIGTERM in the middle of a stalled transfer still ends the program promptly
// with 0 and its settings written.

#include "app/LoginRecord.h"
#include "e2e/ProgramFolder.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "support/ToneClip.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

const std::string kUpdatePath = "/api/index/getVoiceUpdateUrl";
const std::string kUpdateUrl = "http://127.0.0.1:9/update/Voice.zip";
const std::string kClipPath = "/voice/ad.wav";
const std::string kClipName = "_voice_ad.wav";
// Far beyond what the program needs to answer "OK" when nothing holds its
// main thread, far below what any of the faults below lasts: only catches a
// cashier held up by the web server.
const int kAnswerBoundMs = 5000;

// Seconds until "OK" for one text on a fresh connection; nothing when none
// came within `boundMs`.
std::optional<double> Ask(int port, const std::string& text, int boundMs) {
    const Clock::time_point start = Clock::now();
    const int fd = ConnectLoopback(port);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string reply;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        while (reply.size() < 2) {
            const auto left =
                boundMs -
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            pollfd wait{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buffer[16];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            reply.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    if (reply != "OK") {
        return std::nullopt;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One fault of the web API: a behaviour of tools/fake_web_api.py.
struct Fault {
    const char* name;
    const char* behaviour;
};

void PrintTo(const Fault& fault, std::ostream* os) {
    *os << fault.name;
}

// Every way a server can keep a transfer going: each lasts far longer than
// the bounds above (the program's own limit is 60 s with TimeOut 0).
const Fault kFaults[] = {
    {"stalls_mid_body", R"({"stall_mid": true})"},
    {"trickles", R"({"body": "RIFF-trickled-far-too-slowly", "trickle": 3})"},
    {"answers_late", R"({"delay": 90})"},
    {"never_answers", R"({"never_answer": true})"},
};

class NetworkFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NoOtherCopyRuns()) {
            GTEST_SKIP() << "another copy of the program runs on this machine";
        }
        std::string why;
        ASSERT_TRUE(m_program.LayOut(&why)) << why;
        m_port = FreeLoopbackPort();
    }

    // The fake web API with the boss's account, the update address and the
    // clips folder, `responses` overriding single paths; the program logged
    // in by itself against it, TimeOut 0 (the default) in its settings.
    void Start(const std::string& responses, const std::string& settingsExtra = "") {
        const std::string clips = m_program.Dir().File("served");
        std::filesystem::create_directories(clips + "/voice");
        ASSERT_TRUE(MakeToneClip(clips + "/voice/ad.wav", 0.3));
        std::string config = kBossAccount;
        config.pop_back();  // the closing brace
        config += R"(, "update_url": ")" + kUpdateUrl + R"(", "clips": ")" + clips +
                  R"(", "responses": )" + responses + "}";
        m_api = std::make_unique<FakeWebApi>(config);
        ASSERT_TRUE(m_api->Running()) << m_api->Error();
        const std::string settings = m_program.SaveAutoLogin(m_api->BaseUrl(), m_port);
        ASSERT_NE(settings.find("Url="), std::string::npos) << settings;
        if (!settingsExtra.empty()) {
            m_program.Dir().Write("Setting.ini", settings + settingsExtra);
        }
        // A copy started meanwhile elsewhere on this machine (another
        // checkout's tests) makes ours leave at once: wait for it, try again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            ASSERT_TRUE(m_program.Start(m_voice, {}, {{"SDL_AUDIODRIVER", "dummy"}}));
            WaitUntil([&] { return Listening(m_port) || !m_voice.Alive(); });
            if (m_voice.Alive() ||
                m_program.Output().find("already running") == std::string::npos ||
                !NoOtherCopyRuns()) {
                break;
            }
        }
        ASSERT_TRUE(WaitUntil([&] { return Listening(m_port); }))
            << m_program.Output() << m_program.Dir().Read("stderr.txt");
    }

    size_t RequestsFor(const std::string& path) const {
        size_t count = 0;
        for (const FakeWebApi::Request& request : m_api->Requests()) {
            count += request.path == path ? 1 : 0;
        }
        return count;
    }

    // A cashier sending 12,101 on a fresh connection every 200 ms for a
    // while: each must be answered within the bound.
    void KeepSending(int seconds) {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
        int sent = 0;
        while (Clock::now() < end) {
            ++sent;
            EXPECT_TRUE(Ask(m_port, "12,101", kAnswerBoundMs).has_value()) << "message " << sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    // SIGTERM while the fault holds: exit 0 with the settings written. A
    // program still running 5 s after SIGTERM is killed by StopWithSigterm
    // and reported as "signal 9"; the faults last a minute or more.
    void LeavesPromptlyOnSigterm() {
        EXPECT_EQ(ProgramFolder::StopWithSigterm(m_voice), "exit 0")
            << m_program.Dir().Read("stderr.txt");
        const std::string settings = m_program.Dir().Read("Setting.ini");
        EXPECT_NE(settings.find("volume=100"), std::string::npos) << settings;
        EXPECT_NE(settings.find("shield=1"), std::string::npos) << settings;
        EXPECT_EQ(m_program.Logs().find("异常"), std::string::npos) << m_program.Logs();
    }

    // The clips the player started, in order, from the debug log.
    std::vector<std::string> PlayedClips() const {
        const std::string marker = "PlayHelper::Play " + m_program.Path() + "/Audio/";
        std::vector<std::string> clips;
        std::istringstream lines(m_program.Logs());
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find(marker);
            if (at != std::string::npos) {
                clips.push_back(line.substr(at + marker.size()));
            }
        }
        return clips;
    }

    ProgramFolder m_program;
    std::unique_ptr<FakeWebApi> m_api;
    SpawnedProcess m_voice;
    int m_port = 0;
};

class StalledDownload : public NetworkFaultTest, public ::testing::WithParamInterface<Fault> {};

// A cashier message names a server clip whose download the server holds up:
// the cashier keeps getting "OK", and SIGTERM ends the program at once.
TEST_P(StalledDownload, HoldsUpNeitherTheCashierNorTheExit) {
    ASSERT_NO_FATAL_FAILURE(Start(R"({")" + kClipPath + R"(": )" + GetParam().behaviour + "}"));
    ASSERT_TRUE(Ask(m_port, kClipPath + ",200", kAnswerBoundMs).has_value());
    ASSERT_TRUE(WaitUntil([&] { return RequestsFor(kClipPath) == 1; })) << m_program.Logs();
    KeepSending(3);
    // The same clip named again while it is on its way is not fetched again.
    ASSERT_TRUE(Ask(m_port, kClipPath + ",200", kAnswerBoundMs).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(RequestsFor(kClipPath), 1u);
    LeavesPromptlyOnSigterm();
    // Nothing of the broken transfer is left to be taken for the clip later.
    for (const auto& entry : fs::directory_iterator(m_program.Path() + "/Audio")) {
        EXPECT_EQ(entry.path().filename().string().find(kClipName), std::string::npos)
            << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, StalledDownload, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

class StalledUpdateCheck : public NetworkFaultTest, public ::testing::WithParamInterface<Fault> {};

// The update check, started after login, held up by the server: the cashier
// keeps getting "OK", and SIGTERM ends the program at once.
TEST_P(StalledUpdateCheck, HoldsUpNeitherTheCashierNorTheExit) {
    ASSERT_NO_FATAL_FAILURE(Start(R"({")" + kUpdatePath + R"(": )" + GetParam().behaviour + "}"));
    ASSERT_TRUE(WaitUntil([&] { return RequestsFor(kUpdatePath) == 1; })) << m_program.Logs();
    KeepSending(3);
    EXPECT_FALSE(m_program.Dir().Exists("AutoUpdate.args"));
    LeavesPromptlyOnSigterm();
}

INSTANTIATE_TEST_SUITE_P(Faults, StalledUpdateCheck, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// An update answer that comes late still starts the updater, with the address
// and the program's id, while the cashier was answered meanwhile.
TEST_F(NetworkFaultTest, ALateUpdateAnswerStillStartsTheUpdater) {
    ASSERT_NO_FATAL_FAILURE(Start(R"({")" + kUpdatePath + R"(": {"delay": 4}})"));
    ASSERT_TRUE(WaitUntil([&] { return RequestsFor(kUpdatePath) == 1; })) << m_program.Logs();
    ASSERT_TRUE(Ask(m_port, "12,101", kAnswerBoundMs).has_value());
    EXPECT_FALSE(m_program.Dir().Exists("AutoUpdate.args"));
    ASSERT_TRUE(WaitUntil([&] { return !m_program.Dir().Read("AutoUpdate.args").empty(); }))
        << m_program.Logs();
    const std::string args = m_program.Dir().Read("AutoUpdate.args");
    const std::string expected =
        std::string("start") + '\0' + kUpdateUrl + '\0' + std::to_string(m_voice.Pid()) + '\0';
    EXPECT_EQ(args.substr(0, expected.size()), expected);
    EXPECT_EQ(ProgramFolder::StopWithSigterm(m_voice), "exit 0");
}

// A clip that has to be fetched is spoken once it is there; what the cashier
// sent meanwhile is spoken first.
TEST_F(NetworkFaultTest, AFetchedClipIsSpokenAfterTheMessagesSentMeanwhile) {
    ASSERT_NO_FATAL_FAILURE(Start(R"({")" + kClipPath + R"(": {"delay": 2}})"));
    ASSERT_TRUE(Ask(m_port, kClipPath + ",200", kAnswerBoundMs).has_value());
    ASSERT_TRUE(WaitUntil([&] { return RequestsFor(kClipPath) == 1; })) << m_program.Logs();
    ASSERT_TRUE(Ask(m_port, "12,101", kAnswerBoundMs).has_value());
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto played = PlayedClips();
            return !played.empty() && played.back() == kClipName;
        },
        60))
        << m_program.Logs();
    const std::vector<std::string> expected{"工作人员请注意.wav",     "1.wav",  "十.wav", "2.wav",
                                            "号机需要服务员帮助.mp3", kClipName};
    EXPECT_EQ(PlayedClips(), expected);
    EXPECT_TRUE(m_program.Dir().Exists("Audio/" + kClipName));
    // Present now: named again, it is spoken without another download.
    ASSERT_TRUE(Ask(m_port, kClipPath + ",200", kAnswerBoundMs).has_value());
    ASSERT_TRUE(WaitUntil([&] { return PlayedClips().size() == expected.size() + 1; }))
        << m_program.Logs();
    EXPECT_EQ(RequestsFor(kClipPath), 1u);
    EXPECT_EQ(ProgramFolder::StopWithSigterm(m_voice), "exit 0");
}

// "Never" written as a huge TimeOut is clamped: the program still logs in.
TEST_F(NetworkFaultTest, AHugeTimeOutStillLogsIn) {
    ASSERT_NO_FATAL_FAILURE(Start("{}", "TimeOut=3000000\n"));
    EXPECT_TRUE(Ask(m_port, "12,101", kAnswerBoundMs).has_value());
    EXPECT_EQ(ProgramFolder::StopWithSigterm(m_voice), "exit 0");
}

}  // namespace
