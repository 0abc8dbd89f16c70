// The built program against a file system that refuses it: a settings file
// made read-only, a log folder it cannot write, a log on a full disk, and its
// whole folder turned read-only while it runs. Each time it must log in, answer
// every cashier message with OK, speak, leave with 0 on SIGTERM, and come out
// with the settings file and the saved login whole.

#include "app/LoginRecord.h"
#include "e2e/ProgramFolder.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <map>
#include <string>

namespace {

using namespace e2e;

// The log file's name for a moment, as the program names it.
std::string LogName(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char name[32];
    std::strftime(name, sizeof(name), "%Y-%m-%d.log", &local);
    return name;
}

struct FaultCase {
    const char* name;
    // Applied to the laid-out folder before the program starts, or once it
    // listens when `whileRunning`.
    std::function<void(const std::string& folder)> apply;
    bool whileRunning;
    // The settings file cannot be written: it must come out as it went in.
    // Otherwise shutdown adds the volume and shield it was started without.
    bool settingsKept;
};

class FileFaultTest : public ::testing::TestWithParam<FaultCase> {
protected:
    void TearDown() override {
        // Writable again, so the folder can be removed.
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(m_program.Path(), error)) {
            if (!entry.is_symlink()) {
                ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
            }
        }
        ::chmod(m_program.Path().c_str(), 0700);
    }

    ProgramFolder m_program;
};

TEST_P(FileFaultTest, KeepsAnsweringAndLosesNoSetting) {
    const FaultCase& fault = GetParam();
    if (!NoOtherCopyRuns()) {
        GTEST_SKIP() << "another copy of the program runs on this machine";
    }
    std::string why;
    ASSERT_TRUE(m_program.LayOut(&why)) << why;
    TempProgramDir& dir = m_program.Dir();
    const int port = FreeLoopbackPort();

    FakeWebApi api(kBossAccount);
    ASSERT_TRUE(api.Running()) << api.Error();
    const std::string settings = m_program.SaveAutoLogin(api.BaseUrl(), port);
    ASSERT_NE(settings.find("Url="), std::string::npos) << settings;
    const std::string login = dir.Read("SystemInfo.xml");
    if (!fault.whileRunning) {
        fault.apply(m_program.Path());
    }

    SpawnedProcess program;
    // No audio server to reach: the clips still play, on SDL's silent device.
    ASSERT_TRUE(m_program.Start(program, ObeyPermissionsPrefix(),
                                {{"SDL_AUDIODRIVER", "dummy"},
                                 {"PULSE_SERVER", "unix:" + m_program.Path() + "/no-server"}}));
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }))
        << m_program.Output() << dir.Read("stderr.txt");
    if (fault.whileRunning) {
        fault.apply(m_program.Path());
    }

    EXPECT_EQ(m_program.Send(port, {"12,101", "x,98", "7,102"}), "OK\nOK\nOK\n");
    // The first announcement is spoken to its end: staff please attend,
    // one, ten, two, needs a waiter.
    ASSERT_TRUE(WaitUntil([&] { return CountOf(m_program.Output(), "当前语音播放结束。") >= 5; }))
        << m_program.Output();
    EXPECT_EQ(m_program.Send(port, {"x,download"}), "OK\n");

    EXPECT_EQ(ProgramFolder::StopWithSigterm(program), "exit 0") << dir.Read("stderr.txt");

    const std::string after = dir.Read("Setting.ini");
    if (fault.settingsKept) {
        EXPECT_EQ(after, settings);
    } else {
        EXPECT_NE(after.find("volume=100"), std::string::npos) << after;
        EXPECT_NE(after.find("shield=1"), std::string::npos) << after;
        EXPECT_NE(after.find("Url=" + api.BaseUrl()), std::string::npos) << after;
    }
    EXPECT_EQ(dir.Read("SystemInfo.xml"), login);
    LoginRecord record;
    ASSERT_TRUE(ReadLoginRecord(record));
    EXPECT_TRUE(record.autoLogin);
    EXPECT_EQ(record.loginName, "boss");
    // No half-written file was left beside them.
    for (const auto& entry : fs::directory_iterator(m_program.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find("Setting.ini."), std::string::npos) << name;
        EXPECT_EQ(name.find("SystemInfo.xml."), std::string::npos) << name;
        EXPECT_EQ(name.find(".voice-"), std::string::npos) << name;
    }
    const std::string output = m_program.Output();
    EXPECT_EQ(output.find("异常"), std::string::npos) << output;
    EXPECT_TRUE(!fs::exists(m_program.Path() + "/Error") ||
                fs::is_empty(m_program.Path() + "/Error"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FileFaultTest,
    ::testing::Values(FaultCase{"ReadOnlySettingsFile",
                                [](const std::string& folder) {
                                    ::chmod((folder + "/Setting.ini").c_str(), 0444);
                                },
                                false, true},
                      FaultCase{"ReadOnlyLogFolder",
                                [](const std::string& folder) {
                                    fs::create_directory(folder + "/log");
                                    ::chmod((folder + "/log").c_str(), 0555);
                                },
                                false, false},
                      FaultCase{"LogOnAFullDisk",
                                [](const std::string& folder) {
                                    // Every write to /dev/full fails with "no space left".
                                    fs::create_directory(folder + "/log");
                                    const std::time_t now = std::time(nullptr);
                                    for (const std::time_t day : {now, now + 24 * 3600}) {
                                        fs::create_symlink("/dev/full",
                                                           folder + "/log/" + LogName(day));
                                    }
                                },
                                false, false},
                      FaultCase{"ProgramFolderReadOnlyWhileRunning",
                                [](const std::string& folder) { ::chmod(folder.c_str(), 0555); },
                                true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Files under `folder`, relative, with their contents.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
        }
    }
    return files;
}

struct PackCase {
    const char* name;
    int percent;  // of the built pack that reached the folder
};

class PackAtStartTest : public ::testing::TestWithParam<PackCase> {
protected:
    ProgramFolder m_program;
};

// The pack the store copies beside the program, whole or still being copied
// when the program starts: a whole one is unpacked and goes; a cut one stays
// for the next start, is reported in one line and costs no installed clip.
TEST_P(PackAtStartTest, AWholePackIsUnpackedAndACutOneKept) {
    const PackCase& c = GetParam();
    if (!NoOtherCopyRuns()) {
        GTEST_SKIP() << "another copy of the program runs on this machine";
    }
    std::string why;
    ASSERT_TRUE(m_program.LayOut(&why)) << why;
    TempProgramDir& dir = m_program.Dir();
    const std::string whole = ReadFile(kPack);
    const std::string pack = whole.substr(0, whole.size() * c.percent / 100);
    dir.Write("Audio.zip", pack);
    dir.Write("Audio/1.wav", "the store's own recording of one");
    const auto installed = FilesUnder(dir.File("Audio"));
    const int port = FreeLoopbackPort();
    FakeWebApi api(kBossAccount);
    ASSERT_TRUE(api.Running()) << api.Error();
    ASSERT_NE(m_program.SaveAutoLogin(api.BaseUrl(), port).find("Url="), std::string::npos);

    SpawnedProcess program;
    ASSERT_TRUE(m_program.Start(program, {},
                                {{"SDL_AUDIODRIVER", "dummy"},
                                 {"PULSE_SERVER", "unix:" + m_program.Path() + "/no-server"}}));
    // The pack is dealt with before the login, so by the time it listens.
    ASSERT_TRUE(WaitUntil([&] { return Listening(port); }))
        << m_program.Output() << dir.Read("stderr.txt");
    EXPECT_EQ(ProgramFolder::StopWithSigterm(program), "exit 0") << dir.Read("stderr.txt");

    const std::string log = m_program.Logs();
    if (c.percent < 100) {
        EXPECT_EQ(dir.Read("Audio.zip"), pack);
        EXPECT_EQ(FilesUnder(dir.File("Audio")), installed);
        EXPECT_EQ(CountOf(log, "解压语音包出错"), 1u) << log;
        // An error line (the link check may add others of its own).
        EXPECT_EQ(CountOf(log, "ERROR  :解压语音包出错"), 1u) << log;
    } else {
        EXPECT_FALSE(dir.Exists("Audio.zip"));
        const auto clips = FilesUnder(std::string(VOICE_SOURCE_DIR) + "/audio/clips");
        EXPECT_EQ(FilesUnder(dir.File("Audio")), clips);
        EXPECT_EQ(CountOf(log, "解压语音包出错"), 0u) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Packs, PackAtStartTest,
                         ::testing::Values(PackCase{"CutAt60Percent", 60}, PackCase{"Whole", 100}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
