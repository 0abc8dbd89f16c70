// The whole program as a user runs it: the real executable in its own folder,
// logging in by itself from a saved login against the fake web API, answering
// the cashier simulator, and leaving on SIGTERM or SIGINT the way the tray's
// "退出" does (settings saved, threads joined, exit code 0). A second copy
// leaves at once.

#include "app/LoginRecord.h"
#include "app/SingleInstance.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "support/TempProgramDir.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kCashierSim = std::string(VOICE_SOURCE_DIR) + "/tools/cashier_sim.py";
const std::string kProgram = std::string(VOICE_BINARY_DIR) + "/src/ui/Voice";

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kProgram)) << "build the Voice target first";
        {
            // One copy per machine: a copy someone else runs would make ours the second.
            SingleInstance probe;
            if (!probe.Acquire()) {
                GTEST_SKIP() << "another copy of the program runs on this machine";
            }
        }
        m_api = std::make_unique<FakeWebApi>(R"({"accounts": [{"user_name": "boss", "pwd": "secret",
            "id": "88", "realname": "一号店", "service_ip": "127.0.0.1", "service_port": 9}]})");
        ASSERT_TRUE(m_api->Running()) << m_api->Error();
        // The program finds its files beside its executable.
        std::filesystem::copy_file(kProgram, m_dir.Executable());
        // No volume or shield in the file: only the shutdown writes them.
        m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + m_api->BaseUrl() + "\n");
        m_port = FreeLoopbackPort();
    }

    bool Start(SpawnedProcess& process) {
        SpawnedProcess::Options options;
        options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"SDL_AUDIODRIVER", "dummy"}};
        options.stdoutPath = m_dir.File("stdout.txt");
        options.stderrPath = m_dir.File("stderr.txt");
        return process.Start({m_dir.Executable()}, options);
    }

    bool Listening() const {
        const int fd = ConnectLoopback(m_port);
        if (fd < 0) {
            return false;
        }
        close(fd);
        return true;
    }

    std::string Logs() const { return ReadProgramLogs(m_dir.Dir()); }

    TempProgramDir m_dir;
    std::unique_ptr<FakeWebApi> m_api;
    int m_port = 0;
};

TEST_F(ProgramTest, LogsInByItselfAnswersTheCashierAndLeavesCleanlyOnEachSignal) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + m_api->BaseUrl() + "\n");
        ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(m_port)));
        SpawnedProcess program;
        ASSERT_TRUE(Start(program));
        ASSERT_TRUE(WaitUntil([this] { return Listening(); })) << Logs();
        const std::string send = "python3 '" + kCashierSim + "' --port " + std::to_string(m_port) +
                                 " 12,101 > '" + m_dir.File("replies.txt") + "'";
        EXPECT_EQ(std::system(send.c_str()), 0);
        EXPECT_EQ(m_dir.Read("replies.txt"), "OK\n");
        const int status = program.Stop(signal);
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << m_dir.Read("stderr.txt");
        EXPECT_EQ(WEXITSTATUS(status), 0);
        // The settings were saved by the ordered shutdown.
        const std::string settings = m_dir.Read("Setting.ini");
        EXPECT_NE(settings.find("volume=100"), std::string::npos) << settings;
        EXPECT_NE(settings.find("shield=1"), std::string::npos) << settings;
        EXPECT_FALSE(Listening());
    }
}

TEST_F(ProgramTest, SignalAtTheLoginWindowEndsTheProgramWithSettingsSaved) {
    SpawnedProcess program;
    ASSERT_TRUE(Start(program));
    // The login window waits for the user; give it time to be up.
    ASSERT_TRUE(WaitUntil([this] {
        return Logs().find("showing the login window") != std::string::npos;
    })) << Logs();
    const int status = program.Stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(m_dir.Read("Setting.ini").find("volume=100"), std::string::npos);
    EXPECT_FALSE(Listening());
}

TEST_F(ProgramTest, SecondCopyLeavesAtOnceAndTheFirstRunsOn) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(m_port)));
    SpawnedProcess first;
    ASSERT_TRUE(Start(first));
    ASSERT_TRUE(WaitUntil([this] { return Listening(); })) << Logs();
    const std::string second =
        "QT_QPA_PLATFORM=offscreen timeout 60 '" + m_dir.Executable() + "' > /dev/null 2>&1";
    const int status = std::system(second.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(Logs().find("The program is already running."), std::string::npos) << Logs();
    EXPECT_TRUE(first.Alive());
    EXPECT_TRUE(Listening());
    const int firstStatus = first.Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0) << firstStatus;
}

}  // namespace
