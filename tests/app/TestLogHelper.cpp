#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Clock.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "support/TempProgramDir.h"

namespace {

class FixedClock : public Clock {
public:
    explicit FixedClock(std::time_t t) : m_time(t) {}

protected:
    std::time_t now() const override { return m_time; }

private:
    std::time_t m_time;
};

// 2019-03-12 09:30:15 and, for the run past midnight, 2019-03-13 00:00:05, in UTC.
constexpr std::time_t kMorning = 1552383015;
constexpr std::time_t kNextDay = 1552435205;
const char* const kLogFile = "log/2019-03-12.log";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        Clock::Install(std::make_unique<FixedClock>(kMorning));
    }
    std::string Log() const { return m_dir.Read(kLogFile); }

    TempProgramDir m_dir;
};

const std::regex kLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3}: (ERROR|INFO|DEBUG)  :.*)");

struct PriorityCase {
    const char* name;
    void (LogHelper::*call)(const std::string&);
    bool debugSwitch;
    const char* written;  // priority in the line, or nullptr for none
};

class LogPriority : public LogTest, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(LogPriority, WritesTheLineToFileAndStandardOutput) {
    IniHelper::GetInstance()->Settings().debug = GetParam().debugSwitch;
    ::testing::internal::CaptureStdout();
    (LogHelper::GetInstance()->*GetParam().call)("收到消息 12,101");
    const std::string out = ::testing::internal::GetCapturedStdout();
    LogHelper::Destroy();
    if (GetParam().written == nullptr) {
        EXPECT_EQ(Log(), "");
        EXPECT_EQ(out, "");
        return;
    }
    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 1u) << Log();
    EXPECT_TRUE(std::regex_match(lines[0], kLine)) << lines[0];
    EXPECT_NE(lines[0].find(std::string(": ") + GetParam().written + "  :收到消息 12,101"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(out, Log());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, LogPriority,
    ::testing::Values(PriorityCase{"Error", &LogHelper::Error, false, "ERROR"},
                      PriorityCase{"Info", &LogHelper::Info, false, "INFO"},
                      PriorityCase{"DebugOff", &LogHelper::Debug, false, nullptr},
                      PriorityCase{"DebugOn", &LogHelper::Debug, true, "DEBUG"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, DebugIsOffWhileNoSettingsExist) {
    EXPECT_FALSE(LogHelper::DebugEnabled());
    LogHelper::GetInstance()->Debug("hidden");
    EXPECT_EQ(Log(), "");
}

TEST_F(LogTest, DebugFollowsTheSwitchWhileRunning) {
    AppSettings& settings = IniHelper::GetInstance()->Settings();
    LogHelper* log = LogHelper::GetInstance();
    log->Debug("one");
    settings.debug = true;
    EXPECT_TRUE(LogHelper::DebugEnabled());
    log->Debug("two");
    settings.debug = false;
    log->Debug("three");
    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 1u) << Log();
    EXPECT_NE(lines[0].find("DEBUG  :two"), std::string::npos);
}

TEST_F(LogTest, AMessageIsNeverAFormat) {
    const std::string text = "%s %d %n %m %% 100% {}";
    LogHelper::GetInstance()->Error(text);
    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 1u) << Log();
    EXPECT_EQ(lines[0].substr(lines[0].size() - text.size()), text);
}

TEST_F(LogTest, TheFileOfTheStartingDayIsKeptPastMidnightAndAppendedByTheNextRun) {
    LogHelper::GetInstance()->Info("first run");
    Clock::Install(std::make_unique<FixedClock>(kNextDay));
    LogHelper::GetInstance()->Info("after midnight");
    LogHelper::Destroy();
    Clock::Install(std::make_unique<FixedClock>(kMorning + 3600));
    LogHelper::GetInstance()->Info("second run");
    LogHelper::Destroy();

    const auto lines = Lines(Log());
    ASSERT_EQ(lines.size(), 3u) << Log();
    EXPECT_NE(lines[0].find("INFO  :first run"), std::string::npos);
    EXPECT_NE(lines[1].find("INFO  :after midnight"), std::string::npos);
    EXPECT_NE(lines[2].find("INFO  :second run"), std::string::npos);
    EXPECT_FALSE(m_dir.Exists("log/2019-03-13.log"));
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
    LogHelper* log = LogHelper::GetInstance();
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([log, t] {
            for (int i = 0; i < 200; ++i) {
                log->Info("thread " + std::to_string(t) + " line " + std::to_string(i) +
                          std::string(100, 'x'));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    LogHelper::Destroy();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), Log());
    const auto lines = Lines(Log());
    EXPECT_EQ(lines.size(), 800u);
    const std::regex whole(R"(.*: INFO  :thread \d line \d+x{100})");
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
}

TEST_F(LogTest, AnUnwritableFolderStillLogsToStandardOutput) {
    ReadOnlyDir readOnly(m_dir.Dir());
    if (!readOnly.Effective()) {
        GTEST_SKIP() << "cannot make a folder unwritable here";
    }
    ::testing::internal::CaptureStdout();
    LogHelper::GetInstance()->Error("still here");
    LogHelper::Destroy();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR  :still here\n"), std::string::npos) << out;
    EXPECT_FALSE(m_dir.Exists("log"));
}

TEST_F(LogTest, AFullDiskLosesOnlyTheFileLines) {
    // /dev/full takes the file's place: opening works, every write fails
    // with "no space left", as on a full disk.
    std::filesystem::create_directory(m_dir.File("log"));
    std::filesystem::create_symlink("/dev/full", m_dir.File(kLogFile));
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 100; ++i) {
        LogHelper::GetInstance()->Info("line " + std::to_string(i));
    }
    LogHelper::Destroy();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Lines(out).size(), 100u);
    EXPECT_NE(out.find("INFO  :line 99\n"), std::string::npos) << out;
}

}  // namespace
