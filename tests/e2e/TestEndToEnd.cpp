// The built program as a store runs it, headless: its own folder with the
// audio pack and the updater beside it, a saved login with automatic login,
// the fake web API, a real PulseAudio daemon whose null sink is recorded, a
// music player whose level must come back, and the cashier simulator both
// sending messages and standing in as the cashier's address for the link
// check. SIGTERM in the middle of an announcement must still save the
// settings, join the threads, restore the player and leave with 0.

#include "app/LoginRecord.h"
#include "e2e/ProgramFolder.h"
#include "support/CommandOutput.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/PulseServer.h"
#include "support/PulseVolumes.h"
#include "support/SpawnedProcess.h"
#include "support/TempProgramDir.h"
#include "support/XServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <thread>

namespace {

using namespace e2e;
using pulse_volumes::Channels;
using pulse_volumes::Stereo;

const std::string kUpdateUrl = "http://127.0.0.1:9/update/Voice.zip";

// The cashier simulator in listen mode: the address the link check probes.
class CashierListener {
public:
    CashierListener(int port, std::string output) : m_port(port), m_output(std::move(output)) {}

    bool Start() {
        fs::remove(m_output);
        SpawnedProcess::Options options;
        options.stdoutPath = m_output;
        if (!m_process.Start({"python3", kCashierSim, "--listen", "--port", std::to_string(m_port)},
                             options)) {
            return false;
        }
        return WaitUntil([this] { return Output().find("listening on") != std::string::npos; });
    }
    void Stop() { m_process.Stop(SIGTERM); }
    std::string Output() const { return ReadFile(m_output); }
    size_t Probes() const { return CountOf(Output(), "probe from"); }

private:
    int m_port;
    std::string m_output;
    SpawnedProcess m_process;
};

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(m_program.LayOut(&why)) << why;
        m_folder = m_program.Path();
        m_audio = m_folder + "/Audio/";
        m_port = FreeLoopbackPort();
        m_cashierPort = FreeLoopbackPort();
    }

    bool StartProgram(SpawnedProcess& program) { return m_program.Start(program); }
    bool Listening() const { return e2e::Listening(m_port); }
    std::string Logs() const { return m_program.Logs(); }

    // The clips the player started, in order, from the debug log.
    std::vector<std::string> PlayedClips() const {
        const std::string marker = "PlayHelper::Play " + m_audio;
        std::vector<std::string> clips;
        std::istringstream lines(Logs());
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find(marker);
            if (at != std::string::npos) {
                clips.push_back(line.substr(at + marker.size()));
            }
        }
        return clips;
    }

    // What the updater stand-in recorded: each start's arguments.
    std::vector<std::vector<std::string>> UpdaterStarts() const {
        std::vector<std::vector<std::string>> starts;
        std::vector<std::string> current;
        std::string field;
        for (char c : m_dir.Read("AutoUpdate.args")) {
            if (c != '\0') {
                field += c;
            } else if (!field.empty()) {
                current.push_back(field);
                field.clear();
            } else {
                starts.push_back(current);
                current.clear();
            }
        }
        return starts;
    }

    ProgramFolder m_program;
    TempProgramDir& m_dir = m_program.Dir();
    std::string m_folder;
    std::string m_audio;
    int m_port = 0;
    int m_cashierPort = 0;
};

TEST_F(EndToEndTest, LogsInSpeaksTheCashiersMessagesAndLeavesCleanlyOnSigterm) {
    if (!NoOtherCopyRuns()) {
        GTEST_SKIP() << "another copy of the program runs on this machine";
    }
    PulseServer pulse;
    std::string why;
    ASSERT_TRUE(pulse.Start(&why)) << why;

    // Another program playing (silence: its level is what counts, and it must
    // not be mistaken for the announcements on the recording).
    ASSERT_EQ(std::system(
                  ("sox -q -n -r 44100 -c 2 '" + m_dir.File("other.wav") + "' trim 0 300").c_str()),
              0);
    SpawnedProcess player;
    ASSERT_TRUE(player.Start(
        {"paplay", "--volume=" + std::to_string(pulse_volumes::Raw(0.6)), m_dir.File("other.wav")},
        {}));
    const std::string scratch = m_dir.File("inputs.json");
    auto playerLevels = [&] {
        return pulse_volumes::Read(scratch)[static_cast<uint32_t>(player.Pid())];
    };
    ASSERT_TRUE(WaitUntil([&] { return !playerLevels().empty(); }));
    const std::vector<Channels> before{Stereo(0.6)};
    ASSERT_EQ(playerLevels(), before);

    CashierListener listener(m_cashierPort, m_dir.File("listener.txt"));
    ASSERT_TRUE(listener.Start()) << listener.Output();
    FakeWebApi api(R"({"accounts": [{"user_name": "boss", "pwd": "secret", "id": "88",
        "realname": "一号店", "service_ip": "127.0.0.1", "service_port": )" +
                   std::to_string(m_cashierPort) + R"(, "is_wx_open": 1}],
        "update_url": ")" +
                   kUpdateUrl + R"("})");
    ASSERT_TRUE(api.Running()) << api.Error();
    // debug=1 puts every clip played into the log; volume and shield are left
    // out so that only the shutdown writes them.
    ASSERT_NE(m_program.SaveAutoLogin(api.BaseUrl(), m_port).find("Url="), std::string::npos);

    SpawnedProcess program;
    ASSERT_TRUE(StartProgram(program));
    ASSERT_TRUE(WaitUntil([&] { return Listening(); })) << Logs() << m_dir.Read("stderr.txt");
    // The pack was unpacked into Audio/ and deleted.
    EXPECT_TRUE(fs::exists(m_audio + "号机需要服务员帮助.mp3"));
    EXPECT_FALSE(m_dir.Exists("Audio.zip"));

    // The updater is handed the address from the web API and the program's id.
    ASSERT_TRUE(WaitUntil([&] { return !UpdaterStarts().empty(); })) << Logs();
    const std::vector<std::string> updaterArgs{"start", kUpdateUrl, std::to_string(program.Pid())};
    EXPECT_EQ(UpdaterStarts().front(), updaterArgs);

    // The link check reaches the cashier's address; then the cashier goes away.
    ASSERT_TRUE(WaitUntil([&] { return listener.Probes() > 0; })) << Logs();
    listener.Stop();

    ASSERT_TRUE(pulse.StartRecording());
    EXPECT_EQ(m_program.Send(m_port, {"12,101", "5.12#7", "1234,101"}), "OK\nOK\nOK\n");

    const std::vector<std::string> expected{
        // 12,101: staff please attend, twelve, needs a waiter
        "工作人员请注意.wav", "1.wav", "十.wav", "2.wav", "号机需要服务员帮助.mp3",
        // 5.12#7: chime, staff please attend, five, paid online 1 2, waiter
        "提示音.wav", "工作人员请注意.wav", "5.wav", "onlinePay.wav", "1.wav", "2.wav",
        "waiter.wav",
        // 1234,101: one thousand two hundred thirty four
        "工作人员请注意.wav", "1.wav", "千.wav", "2.wav", "百.wav", "3.wav", "十.wav", "4.wav",
        "号机需要服务员帮助.mp3"};
    // The player is silenced while the run is spoken (lowered right after
    // its first clip has started) ...
    ASSERT_TRUE(WaitUntil([&] { return !PlayedClips().empty(); })) << Logs();
    EXPECT_TRUE(WaitUntil([&] { return playerLevels() == std::vector<Channels>{Stereo(0.0)}; }))
        << Logs();
    // ... and back at its level once the last clip has ended.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return PlayedClips().size() >= expected.size() &&
                   CountOf(Logs(), "当前语音播放结束。") >= expected.size() &&
                   playerLevels() == before;
        },
        120))
        << Logs();
    EXPECT_EQ(PlayedClips(), expected);
    // What the mixer handed over is still on its way through the server.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const double sounding = SoundingSeconds(pulse.StopRecording());
    EXPECT_GT(sounding, 15.0) << "three announcements, about 26 seconds of clips";

    // The link check noticed the cashier was gone, and sees it back.
    ASSERT_TRUE(WaitUntil([&] { return Logs().find("connect出错") != std::string::npos; }, 60))
        << Logs();
    ASSERT_TRUE(listener.Start()) << listener.Output();
    ASSERT_TRUE(WaitUntil([&] { return listener.Probes() > 0; }, 60)) << Logs();

    // SIGTERM in the middle of an announcement.
    const size_t played = PlayedClips().size();
    EXPECT_EQ(m_program.Send(m_port, {"1234,101"}), "OK\n");
    ASSERT_TRUE(WaitUntil([&] { return PlayedClips().size() > played; })) << Logs();
    EXPECT_TRUE(WaitUntil([&] { return playerLevels() == std::vector<Channels>{Stereo(0.0)}; }))
        << Logs();
    EXPECT_EQ(ProgramFolder::StopWithSigterm(program), "exit 0") << m_dir.Read("stderr.txt");

    EXPECT_EQ(playerLevels(), before);
    const std::string settings = m_dir.Read("Setting.ini");
    EXPECT_NE(settings.find("volume=100"), std::string::npos) << settings;
    EXPECT_NE(settings.find("shield=1"), std::string::npos) << settings;
    EXPECT_FALSE(Listening());
    const std::string logs = Logs();
    EXPECT_EQ(logs.find("异常"), std::string::npos) << logs;
    EXPECT_TRUE(!fs::exists(m_folder + "/Error") || fs::is_empty(m_folder + "/Error"));
    // The login was kept for the next start.
    LoginRecord record;
    ASSERT_TRUE(ReadLoginRecord(record));
    EXPECT_TRUE(record.autoLogin);
    EXPECT_EQ(record.port, std::to_string(m_port));
}

TEST_F(EndToEndTest, AFolderItCannotWriteIsReportedInOneLineAtStart) {
    // The program's own folder, read-only; its output goes to the writable one.
    const std::string folder = m_folder + "/readonly";
    fs::create_directory(folder);
    fs::copy_file(kProgram, folder + "/Voice");
    fs::copy_file(kPack, folder + "/Audio.zip");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    // `timeout` guards against a program
    // that does not notice and waits at its login window.
    std::string command = "QT_QPA_PLATFORM=offscreen timeout 60 ";
    for (const std::string& word : ObeyPermissionsPrefix()) {
        command += word + " ";
    }
    command += "'" + folder + "/Voice' > '" + m_dir.File("stdout.txt") + "' 2> '" +
               m_dir.File("stderr.txt") + "'";
    const int status = std::system(command.c_str());
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);

    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_NE(WEXITSTATUS(status), 0);
    const std::string error = m_dir.Read("stderr.txt");
    EXPECT_EQ(CountOf(error, "\n"), 1u) << error;
    EXPECT_NE(error.find("not writable"), std::string::npos) << error;
    EXPECT_NE(error.find(fs::canonical(folder).string()), std::string::npos) << error;
    EXPECT_EQ(m_dir.Read("stdout.txt"), "");
    // Nothing was attempted: the pack is still there, nothing was made.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Audio.zip", "Voice"}));
}

// Started from the desktop's menu or at login nobody reads standard error: on
// a desktop the refusal is also shown in the message dialog, and acknowledging
// it ends the program with status 1 as before.
TEST_F(EndToEndTest, AFolderItCannotWriteIsShownInAMessageOnADesktop) {
    XServer desktop;
    std::string error;
    ASSERT_TRUE(desktop.Start({}, error)) << error;
    const std::string display = desktop.Environment().at("DISPLAY");
    const std::string folder = m_folder + "/readonly";
    fs::create_directory(folder);
    fs::copy_file(kProgram, folder + "/Voice");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    SpawnedProcess program;
    std::vector<std::string> argv = ObeyPermissionsPrefix();
    argv.push_back(folder + "/Voice");
    SpawnedProcess::Options options;
    options.environment = desktop.Environment();
    options.environment["SDL_AUDIODRIVER"] = "dummy";
    options.stdoutPath = m_dir.File("stdout.txt");
    options.stderrPath = m_dir.File("stderr.txt");
    ASSERT_TRUE(program.Start(argv, options));

    const auto run = [&](const std::string& command) {
        return CommandOutput("DISPLAY=" + display + " " + command);
    };
    std::string window;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (window.empty() && program.Alive() && std::chrono::steady_clock::now() < deadline) {
        window = run("xdotool search --name '消息窗口' 2>/dev/null");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(window.empty()) << "no message dialog; stderr: " << m_dir.Read("stderr.txt");
    window = window.substr(0, window.find('\n'));
    // The cashier presses Enter, as on the dialog's button.
    run("xdotool windowactivate --sync " + window + " key Return 2>&1");
    int status = -1;
    for (int i = 0; i < 300 && program.Alive(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    status = program.Stop();
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
    ASSERT_TRUE(WIFEXITED(status)) << "still open after Enter: " << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string stderrText = m_dir.Read("stderr.txt");
    EXPECT_NE(stderrText.find("not writable"), std::string::npos) << stderrText;
    EXPECT_NE(stderrText.find(fs::canonical(folder).string()), std::string::npos) << stderrText;
}

}  // namespace
