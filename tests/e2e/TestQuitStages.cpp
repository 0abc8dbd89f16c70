// The built program ends on SIGTERM, SIGINT, SIGHUP and SIGQUIT at whatever
// stage it is in, as the tray's "退出" does: at the login window, behind the
// wait dialog with a login request the server never answers, under the
// login's error message, at the main window. Each time it leaves with 0 and
// its settings written. And a second start brings the running copy's window
// to the front instead of being lost on a copy nobody can see.

#include "e2e/ProgramFolder.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

namespace {

using namespace e2e;

const std::string kLoginPath = "/api/index/voiceLogin";
// Far longer than any stage needs to end: only catches a program that hangs.
const int kExitGuardSeconds = 10;

enum class Stage { kLoginWindow, kWaitDialog, kMessage, kMainWindow };

std::string Ended(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                               : "status " + std::to_string(status);
}

class QuitStages : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NoOtherCopyRuns()) {
            GTEST_SKIP() << "another copy of the program runs on this machine";
        }
        std::string why;
        ASSERT_TRUE(m_program.LayOut(&why)) << why;
        m_port = FreeLoopbackPort();
    }

    // Starts the program and returns once it is at `stage`.
    void Reach(Stage stage) {
        switch (stage) {
            case Stage::kLoginWindow:
                StartApi("{}");
                // No saved login: the login window waits for the user.
                m_program.Dir().Write("Setting.ini",
                                      "[WebSetting]\nUrl=" + m_api->BaseUrl() + "\ndebug=1\n");
                break;
            case Stage::kWaitDialog:
                // A server that takes the login and never answers, with a
                // time limit of ten minutes.
                StartApi(R"({"responses": {")" + kLoginPath + R"(": {"never_answer": true}}})");
                m_program.Dir().Write(
                    "Setting.ini",
                    m_program.SaveAutoLogin(m_api->BaseUrl(), m_port) + "TimeOut=600\n");
                break;
            case Stage::kMessage:
                // Nothing listens there: the login is refused and "网络错误." shown.
                m_program.SaveAutoLogin("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()),
                                        m_port);
                break;
            case Stage::kMainWindow:
                StartApi(kBossAccount);
                m_program.SaveAutoLogin(m_api->BaseUrl(), m_port);
                break;
        }
        ASSERT_TRUE(m_program.Start(m_voice, {}, {{"SDL_AUDIODRIVER", "dummy"}}));
        const auto log = [this] { return m_program.Output() + m_program.Logs(); };
        switch (stage) {
            case Stage::kLoginWindow:
                ASSERT_TRUE(WaitUntil([&] {
                    return log().find("showing the login window.") != std::string::npos;
                })) << log();
                break;
            case Stage::kWaitDialog:
                ASSERT_TRUE(m_api->WaitForRequests(1)) << log();
                ASSERT_EQ(m_api->Requests().front().path, kLoginPath);
                break;
            case Stage::kMessage:
                ASSERT_TRUE(WaitUntil([&] { return log().find("请求失败") != std::string::npos; }))
                    << log();
                // The worker closes the wait dialog and the message follows at once.
                std::this_thread::sleep_for(std::chrono::seconds(1));
                break;
            case Stage::kMainWindow:
                ASSERT_TRUE(WaitUntil([&] { return Listening(m_port); })) << log();
                break;
        }
        ASSERT_TRUE(m_voice.Alive()) << log();
    }

    void StartApi(const std::string& config) {
        m_api = std::make_unique<FakeWebApi>(config);
        ASSERT_TRUE(m_api->Running()) << m_api->Error();
    }

    ProgramFolder m_program;
    std::unique_ptr<FakeWebApi> m_api;
    SpawnedProcess m_voice;
    int m_port = 0;
};

struct QuitCase {
    const char* name;
    Stage stage;
    int signal;
};

void PrintTo(const QuitCase& c, std::ostream* os) {
    *os << c.name;
}

class QuitSignalAtStage : public QuitStages, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitSignalAtStage, EndsWithZeroAndTheSettingsWritten) {
    ASSERT_NO_FATAL_FAILURE(Reach(GetParam().stage));
    ASSERT_EQ(::kill(m_voice.Pid(), GetParam().signal), 0);
    EXPECT_TRUE(WaitUntil([&] { return !m_voice.Alive(); }, kExitGuardSeconds))
        << "still running after " << strsignal(GetParam().signal);
    // Kills and reports "signal 9" if it hung.
    EXPECT_EQ(Ended(m_voice.Stop(SIGKILL)), "exit 0") << m_program.Dir().Read("stderr.txt");
    // Shutdown writes volume and shield back, neither of which was in the file.
    const std::string settings = m_program.Dir().Read("Setting.ini");
    EXPECT_NE(settings.find("volume="), std::string::npos) << settings;
    EXPECT_NE(settings.find("shield="), std::string::npos) << settings;
    EXPECT_EQ(m_program.Logs().find("异常"), std::string::npos) << m_program.Logs();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStage, QuitSignalAtStage,
    ::testing::Values(QuitCase{"login_window_SIGTERM", Stage::kLoginWindow, SIGTERM},
                      QuitCase{"login_window_SIGINT", Stage::kLoginWindow, SIGINT},
                      QuitCase{"wait_dialog_SIGTERM", Stage::kWaitDialog, SIGTERM},
                      QuitCase{"wait_dialog_SIGQUIT", Stage::kWaitDialog, SIGQUIT},
                      QuitCase{"message_SIGTERM", Stage::kMessage, SIGTERM},
                      QuitCase{"message_SIGHUP", Stage::kMessage, SIGHUP},
                      QuitCase{"main_window_SIGTERM", Stage::kMainWindow, SIGTERM}),
    [](const ::testing::TestParamInfo<QuitCase>& info) { return std::string(info.param.name); });

struct ShowCase {
    const char* name;
    Stage stage;
    const char* line;  // what the running copy logs as it shows the window
};

void PrintTo(const ShowCase& c, std::ostream* os) {
    *os << c.name;
}

class SecondStart : public QuitStages, public ::testing::WithParamInterface<ShowCase> {};

// The second copy leaves at once without a window of its own; the first
// shows its open window and goes on running.
TEST_P(SecondStart, ShowsTheRunningCopysWindow) {
    ASSERT_NO_FATAL_FAILURE(Reach(GetParam().stage));
    ProgramFolder other;
    std::string why;
    ASSERT_TRUE(other.LayOut(&why)) << why;
    SpawnedProcess second;
    ASSERT_TRUE(other.Start(second));
    EXPECT_TRUE(WaitUntil([&] { return !second.Alive(); }, kExitGuardSeconds));
    EXPECT_EQ(Ended(second.Stop(SIGKILL)), "exit 0");
    EXPECT_NE(other.Output().find("already running"), std::string::npos) << other.Output();
    EXPECT_EQ(other.Output().find("showing the login window"), std::string::npos) << other.Output();

    EXPECT_TRUE(
        WaitUntil([&] { return m_program.Logs().find(GetParam().line) != std::string::npos; },
                  kExitGuardSeconds))
        << m_program.Logs();
    EXPECT_TRUE(m_voice.Alive());
    EXPECT_EQ(Ended(m_voice.Stop(SIGTERM)), "exit 0");
}

INSTANTIATE_TEST_SUITE_P(OpenWindow, SecondStart,
                         ::testing::Values(ShowCase{"login_window", Stage::kLoginWindow,
                                                    "Started again: showing the login window."},
                                           ShowCase{"main_window", Stage::kMainWindow,
                                                    "Started again: showing the main window."}),
                         [](const ::testing::TestParamInfo<ShowCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
