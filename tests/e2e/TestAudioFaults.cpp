// The built program when the audio server is not there at start, dies in the
// middle of an announcement or stops answering: it must keep answering every
// cashier message with OK, not get stuck on the announcement under way, speak
// again once a server is (back) at its address, and still leave with 0 and its
// settings written on SIGTERM. And when the program itself is killed, or told
// to end by SIGHUP or SIGQUIT, in the middle of an announcement: other
// programs' audio comes back, at once or at its next start.

#include "app/LoginRecord.h"
#include "e2e/ProgramFolder.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/PulseServer.h"
#include "support/PulseVolumes.h"
#include "support/SpawnedProcess.h"
#include "support/ToneClip.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

namespace {

using namespace e2e;

// The last clip of a waiter call.
const std::string kLastClip = "号机需要服务员帮助.mp3";

class AudioFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NoOtherCopyRuns()) {
            GTEST_SKIP() << "another copy of the program runs on this machine";
        }
        std::string why;
        ASSERT_TRUE(m_program.LayOut(&why)) << why;
        ASSERT_TRUE(m_api.Running()) << m_api.Error();
        m_port = FreeLoopbackPort();
        ASSERT_NE(m_program.SaveAutoLogin(m_api.BaseUrl(), m_port).find("Url="), std::string::npos);
    }

    void StartProgram() {
        ASSERT_TRUE(m_program.Start(m_voice, {}, {{"PULSE_SERVER", m_pulse.Address()}}));
        ASSERT_TRUE(WaitUntil([&] { return Listening(m_port); }))
            << m_program.Output() << m_program.Dir().Read("stderr.txt");
    }

    size_t Played(const std::string& clip) const {
        return CountOf(m_program.Logs(), "PlayHelper::Play " + m_program.Path() + "/Audio/" + clip);
    }

    // A server at the program's address again: the next announcement is heard.
    void SpeaksAgainOnANewServer() {
        std::string why;
        ASSERT_TRUE(m_pulse.Start(&why)) << why;
        ASSERT_TRUE(m_pulse.StartRecording());
        const size_t before = Played(kLastClip);
        EXPECT_EQ(m_program.Send(m_port, {"13,101", "x,download"}), "OK\nOK\n");
        ASSERT_TRUE(WaitUntil([&] { return Played(kLastClip) > before; }, 120)) << m_program.Logs();
        ASSERT_TRUE(WaitUntil([&] {
            return CountOf(m_program.Logs(), "当前语音播放结束。") >= m_endsBefore + 5;
        })) << m_program.Logs();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        EXPECT_GT(SoundingSeconds(m_pulse.StopRecording()), 2.0)
            << "thirteen needs a waiter, about 5 seconds of clips";
    }

    // A server at the program's address and an announcement under way: its
    // second clip has started.
    void SpeakingMidAnnouncement() {
        std::string why;
        ASSERT_TRUE(m_pulse.Start(&why)) << why;
        StartProgram();
        EXPECT_EQ(m_program.Send(m_port, {"12,101"}), "OK\n");
        ASSERT_TRUE(WaitUntil([&] { return CountOf(m_program.Logs(), "PlayHelper::Play ") >= 2; }))
            << m_program.Logs();
    }

    // SIGTERM ends the program with 0 and its settings written. Stop waits 5 s
    // for the exit before it kills: a generous bound that only catches a hang.
    void LeavesCleanly() {
        EXPECT_EQ(m_program.Send(m_port, {"x,download"}), "OK\n");
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(ProgramFolder::StopWithSigterm(m_voice), "exit 0")
            << m_program.Dir().Read("stderr.txt") << m_program.Logs();
        m_exitTook = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - asked);
        const std::string settings = m_program.Dir().Read("Setting.ini");
        EXPECT_NE(settings.find("volume=100"), std::string::npos) << settings;
        EXPECT_NE(settings.find("shield=1"), std::string::npos) << settings;
        LoginRecord record;
        ASSERT_TRUE(ReadLoginRecord(record));
        EXPECT_TRUE(record.autoLogin);
        EXPECT_EQ(m_program.Logs().find("异常"), std::string::npos) << m_program.Logs();
    }

    // A music player the user turned down to 60 %, which the server remembers.
    void StartMusicPlayer(SpawnedProcess& player) {
        ASSERT_TRUE(MakeToneClip(m_program.Dir().File("song.wav"), 120, 440, 2));
        ASSERT_TRUE(player.Start(
            {"paplay", "--client-name=Music Player", m_program.Dir().File("song.wav")}, {}));
        ASSERT_TRUE(WaitUntil([&] { return !Levels(player).empty(); }));
        const long index = pulse_volumes::IndexOf(m_program.Dir().File("index.json"),
                                                  static_cast<uint32_t>(player.Pid()));
        SpawnedProcess pactl;
        ASSERT_TRUE(pactl.Start({"pactl", "set-sink-input-volume", std::to_string(index),
                                 std::to_string(pulse_volumes::Raw(0.6))},
                                {}));
        ASSERT_EQ(pactl.Stop(0), 0);
        ASSERT_EQ(Levels(player), std::vector<pulse_volumes::Channels>{pulse_volumes::Stereo(0.6)});
    }

    std::vector<pulse_volumes::Channels> Levels(const SpawnedProcess& player) const {
        return pulse_volumes::Read(
            m_program.Dir().File("inputs.json"))[static_cast<uint32_t>(player.Pid())];
    }

    bool At(const SpawnedProcess& player, double level) const {
        return Levels(player) == std::vector<pulse_volumes::Channels>{pulse_volumes::Stereo(level)};
    }

    // An announcement under way, with the player lowered for it.
    void AnnounceAndWaitUntilLowered(const SpawnedProcess& player) {
        EXPECT_EQ(m_program.Send(m_port, {"12,101"}), "OK\n");
        ASSERT_TRUE(WaitUntil([&] { return At(player, 0.0); })) << m_program.Logs();
        ASSERT_EQ(Played(kLastClip), 0u) << "still under way";
    }

    ProgramFolder m_program;
    FakeWebApi m_api{kBossAccount};
    PulseServer m_pulse;  // its address is fixed; the daemon comes and goes
    SpawnedProcess m_voice;
    int m_port = 0;
    size_t m_endsBefore = 0;
    std::chrono::milliseconds m_exitTook{0};
};

TEST_F(AudioFaultTest, NoAudioServerAtStart) {
    StartProgram();
    EXPECT_EQ(m_program.Send(m_port, {"12,101", "x,download"}), "OK\nOK\n");
    EXPECT_NE(m_program.Logs().find("无法创建音频播放器"), std::string::npos) << m_program.Logs();
    SpeaksAgainOnANewServer();
    LeavesCleanly();
}

TEST_F(AudioFaultTest, AudioServerKilledMidAnnouncement) {
    ASSERT_NO_FATAL_FAILURE(SpeakingMidAnnouncement());
    m_pulse.Kill();
    EXPECT_EQ(m_program.Send(m_port, {"x,download", "x,download"}), "OK\nOK\n");
    // The clip under way runs out and the rest of the announcement is skipped
    // rather than played into nothing or waited on for ever; played, its last
    // clip would start within 8 seconds.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    const std::string logs = m_program.Logs();
    EXPECT_EQ(Played(kLastClip), 0u) << logs;
    EXPECT_EQ(CountOf(logs, "当前语音播放结束。"), CountOf(logs, "PlayHelper::Play ")) << logs;
    m_endsBefore = CountOf(logs, "当前语音播放结束。");
    SpeaksAgainOnANewServer();
    LeavesCleanly();
}

// A sound server that stops answering (SIGSTOP) in the middle of an
// announcement: SDL would wait for it for ever when the device is closed, so
// SIGTERM must still end the program, with its settings written.
TEST_F(AudioFaultTest, AudioServerFrozenMidAnnouncement) {
    ASSERT_NO_FATAL_FAILURE(SpeakingMidAnnouncement());
    m_pulse.Freeze();
    EXPECT_EQ(m_program.Send(m_port, {"x,download", "13,101"}), "OK\nOK\n");
    LeavesCleanly();
    RecordProperty("exit_ms", std::to_string(m_exitTook.count()));
    std::cout << "exit after SIGTERM with a frozen sound server: " << m_exitTook.count() << " ms\n";
    m_pulse.Thaw();
}

// A server that accepts connections but never answers when the program
// starts: the player cannot be made, which must neither hold up the window
// nor the cashier's OKs, and once the server answers again the next
// announcement is heard.
TEST_F(AudioFaultTest, AudioServerFrozenAtStart) {
    std::string why;
    ASSERT_TRUE(m_pulse.Start(&why)) << why;
    m_pulse.Freeze();
    StartProgram();
    EXPECT_EQ(m_program.Send(m_port, {"12,101", "x,download"}), "OK\nOK\n");
    ASSERT_TRUE(WaitUntil([&] {
        return m_program.Logs().find("无法创建音频播放器") != std::string::npos;
    })) << m_program.Logs();

    m_pulse.Thaw();
    ASSERT_TRUE(m_pulse.StartRecording());
    EXPECT_EQ(m_program.Send(m_port, {"13,101"}), "OK\n");
    ASSERT_TRUE(WaitUntil([&] { return Played(kLastClip) > 0; }, 120)) << m_program.Logs();
    ASSERT_TRUE(WaitUntil([&] { return CountOf(m_program.Logs(), "当前语音播放结束。") >= 5; }))
        << m_program.Logs();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_GT(SoundingSeconds(m_pulse.StopRecording()), 2.0);
    LeavesCleanly();
}

// Killed in the middle of an announcement: the player stays silent, and the
// server remembers 0 for it, until the program starts again and gives back
// both its stream's level and the remembered one, before anything else.
TEST_F(AudioFaultTest, KilledMidAnnouncementOthersComeBackAtTheNextStart) {
    std::string why;
    ASSERT_TRUE(m_pulse.Start(&why)) << why;
    SpawnedProcess player;
    StartMusicPlayer(player);
    // Checked again right before each start: other tests on this machine
    // start copies of the program too.
    ASSERT_TRUE(NoOtherCopyRuns());
    StartProgram();
    AnnounceAndWaitUntilLowered(player);
    EXPECT_TRUE(m_program.Dir().Exists("ShieldLevels.txt"));

    m_voice.Stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(At(player, 0.0)) << "nothing gave it back yet";

    ASSERT_TRUE(NoOtherCopyRuns());
    StartProgram();
    EXPECT_TRUE(WaitUntil([&] { return At(player, 0.6); })) << m_program.Logs();
    EXPECT_FALSE(m_program.Dir().Exists("ShieldLevels.txt"));
    EXPECT_NE(m_program.Logs().find("已恢复上次运行时降低的其他程序音量"), std::string::npos)
        << m_program.Logs();
    // What the server remembers is back too: the player's next song is heard.
    SpawnedProcess nextSong;
    ASSERT_TRUE(nextSong.Start(
        {"paplay", "--client-name=Music Player", m_program.Dir().File("song.wav")}, {}));
    EXPECT_TRUE(WaitUntil([&] { return At(nextSong, 0.6); })) << m_program.Logs();
    nextSong.Stop(SIGKILL);
    player.Stop(SIGKILL);
    LeavesCleanly();
}

// SIGHUP (a closed terminal or session) and SIGQUIT end the program the way
// SIGTERM does: exit 0, settings written, other programs given back their audio.
TEST_F(AudioFaultTest, HangupAndQuitSignalsLeaveCleanlyMidAnnouncement) {
    std::string why;
    ASSERT_TRUE(m_pulse.Start(&why)) << why;
    SpawnedProcess player;
    StartMusicPlayer(player);
    for (int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal));
        ASSERT_TRUE(NoOtherCopyRuns());
        StartProgram();
        AnnounceAndWaitUntilLowered(player);
        const int status = m_voice.Stop(signal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_TRUE(At(player, 0.6));
        EXPECT_FALSE(m_program.Dir().Exists("ShieldLevels.txt"));
        EXPECT_NE(m_program.Dir().Read("Setting.ini").find("shield=1"), std::string::npos);
    }
    player.Stop(SIGKILL);
}

}  // namespace
