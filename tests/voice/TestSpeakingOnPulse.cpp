// Announcements spoken through a real PulseAudio daemon: the sound reaches the
// sink for as long as the clips last, the volume reaches it too, and other
// programs are at 0 while a run is spoken and back at their levels after it,
// also when clips failed on the way or the program shut down mid-run.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <thread>

#include "support/PlayHelperFixture.h"
#include "support/PulseServer.h"
#include "support/PulseVolumes.h"
#include "support/SpawnedProcess.h"
#include "support/ToneClip.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"

namespace {
using pulse_volumes::Channels;
using pulse_volumes::Raw;
using pulse_volumes::Stereo;

class SpeakingOnPulseTest : public PlayHelperFixture {
protected:
    void SetUp() override {
        PlayHelperFixture::SetUp();
        std::string why;
        ASSERT_TRUE(m_server.Start(&why)) << why;
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        ASSERT_TRUE(MakeToneClip(m_audio + "a.wav", 0.5, 440));
        ASSERT_TRUE(MakeToneClip(m_audio + "b.mp3", 0.5, 660));
        ASSERT_TRUE(MakeToneClip(m_audio + "long.wav", 1.5, 550));
        ASSERT_TRUE(MakeToneClip(m_dir.File("other.wav"), 120, 330, 2));
        m_shield = true;
    }

    // Waits until the clip was started.
    bool WaitStarted(const std::string& clip) {
        for (int i = 0; i < 1200; ++i) {
            if (Log().find("PlayHelper::Play " + m_audio + clip) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void StartOther(SpawnedProcess& player, double level) {
        ASSERT_TRUE(player.Start(
            {"paplay", "--volume=" + std::to_string(Raw(level)), m_dir.File("other.wav")}, {}));
    }

    std::vector<Channels> Levels(const SpawnedProcess& player) {
        return pulse_volumes::Read(m_dir.File("inputs.json"))[static_cast<uint32_t>(player.Pid())];
    }

    // Others are lowered right after the run's first clip has started: waits
    // (a guard against hanging, not a speed check) until `player` is at `level`.
    std::vector<Channels> WaitForLevel(const SpawnedProcess& player, double level) {
        for (int i = 0; i < 100 && Levels(player) != std::vector<Channels>{Stereo(level)}; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return Levels(player);
    }

    bool WaitForStream(const SpawnedProcess& player) {
        for (int i = 0; i < 300; ++i) {
            if (!Levels(player).empty()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    PulseServer m_server;
};

struct VolumeCase {
    unsigned volume;
    bool heard;
};

void PrintTo(const VolumeCase& c, std::ostream* os) {
    *os << "volume " << c.volume;
}

class SpeakingVolume : public SpeakingOnPulseTest,
                       public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(SpeakingVolume, TheAnnouncementReachesTheSinkForAsLongAsItsClips) {
    PlayHelper* helper = Start();
    ASSERT_TRUE(helper->SetVolume(GetParam().volume));
    ASSERT_TRUE(m_server.StartRecording());
    helper->Enqueue({"a.wav", "b.mp3"});
    ASSERT_TRUE(WaitIdle(helper));
    // What the mixer handed over is still on its way through the server.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const double seconds = SoundingSeconds(m_server.StopRecording());
    if (GetParam().heard) {
        EXPECT_GT(seconds, 0.85) << "two clips of half a second";
        EXPECT_LT(seconds, 1.8);
    } else {
        EXPECT_EQ(seconds, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, SpeakingVolume,
                         ::testing::Values(VolumeCase{100, true}, VolumeCase{0, false}));

struct RunCase {
    const char* name;
    std::vector<Announcement> queue;
    const char* firstHeard;  // the clip during which the others must be silent
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

class SpeakingRun : public SpeakingOnPulseTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(SpeakingRun, OthersAreSilentDuringTheRunAndBackAtTheirLevelsAfterIt) {
    SpawnedProcess player;
    SpawnedProcess browser;
    StartOther(player, 0.6);
    StartOther(browser, 1.0);
    ASSERT_TRUE(WaitForStream(player));
    ASSERT_TRUE(WaitForStream(browser));
    PlayHelper* helper = Start();
    for (const Announcement& announcement : GetParam().queue) {
        helper->Enqueue(announcement);
    }
    ASSERT_TRUE(WaitStarted(GetParam().firstHeard));
    EXPECT_EQ(WaitForLevel(player, 0.0), std::vector<Channels>{Stereo(0.0)});
    EXPECT_EQ(WaitForLevel(browser, 0.0), std::vector<Channels>{Stereo(0.0)});
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(Levels(player), std::vector<Channels>{Stereo(0.6)});
    EXPECT_EQ(Levels(browser), std::vector<Channels>{Stereo(1.0)});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SpeakingRun,
    ::testing::Values(
        RunCase{"OneAnnouncement", {{"long.wav"}}, "long.wav"},
        RunCase{"ThreeAnnouncements", {{"a.wav"}, {"long.wav"}, {"b.mp3"}}, "long.wav"},
        // A failed clip lets the play thread take the next announcement;
        // the levels saved at the run's start must stay the ones restored.
        RunCase{"FailedClipsOnTheWay",
                {{"missing.wav"}, {"a.wav", "missing.mp3"}, {"missing.wav"}, {"long.wav"}},
                "long.wav"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpeakingOnPulseTest, ShieldOffLeavesOthersAlone) {
    m_shield = false;
    SpawnedProcess player;
    StartOther(player, 0.6);
    ASSERT_TRUE(WaitForStream(player));
    PlayHelper* helper = Start();
    helper->Enqueue({"long.wav"});
    ASSERT_TRUE(WaitStarted("long.wav"));
    // Switched on mid-run: it counts from the next run on.
    m_shield = true;
    EXPECT_EQ(Levels(player), std::vector<Channels>{Stereo(0.6)});
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(Levels(player), std::vector<Channels>{Stereo(0.6)});
}

TEST_F(SpeakingOnPulseTest, ShutdownMidRunGivesOthersTheirLevelsBack) {
    SpawnedProcess player;
    StartOther(player, 0.6);
    ASSERT_TRUE(WaitForStream(player));
    ASSERT_TRUE(MakeToneClip(m_audio + "minute.wav", 60));
    PlayHelper* helper = Start();
    helper->Enqueue({"minute.wav"});
    ASSERT_TRUE(WaitStarted("minute.wav"));
    ASSERT_EQ(WaitForLevel(player, 0.0), std::vector<Channels>{Stereo(0.0)});
    Shutdown();
    EXPECT_EQ(Levels(player), std::vector<Channels>{Stereo(0.6)});
}

// The server hangs or stops while a clip plays and comes back: the clip is
// ended (a hung server stops the mixer, so the player ends the clip itself),
// and what was queued behind it is spoken once the server is back.
TEST_F(SpeakingOnPulseTest, TheServerGoingAwayMidClipKeepsTheRestForWhenItIsBack) {
    ASSERT_TRUE(MakeToneClip(m_audio + "three.wav", 3));
    struct Failure {
        const char* what;
        void (PulseServer::*fail)();
        bool restart;  // it has to be started again, else thawed
    };
    const std::vector<Failure> failures = {{"frozen", &PulseServer::Freeze, false},
                                           {"stopped", &PulseServer::Stop, true}};
    PlayHelper* helper = Start();
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        const size_t before = Log().size();
        helper->Enqueue({"three.wav", "a.wav"});
        for (int i = 0; i < 1200 && Log().find("three.wav", before) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const std::string address = m_server.Address();
        (m_server.*failure.fail)();
        // The program keeps looking for this server, not another one.
        ::setenv("PULSE_SERVER", address.c_str(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (failure.restart) {
            std::string why;
            ASSERT_TRUE(m_server.Start(&why)) << why;
        } else {
            m_server.Thaw();
        }
        ASSERT_TRUE(WaitIdle(helper));
        EXPECT_NE(Log().find("PlayHelper::Play " + m_audio + "a.wav", before), std::string::npos)
            << Log().substr(before);
    }
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Four announcements queued, the server killed mid-clip and started again:
// all four are spoken, the one that was cut going on with its next clip, and
// the outage is said once. What reaches the new server's sink is the rest.
TEST_F(SpeakingOnPulseTest, ARestartedServerSpeaksEverythingQueued) {
    ASSERT_TRUE(MakeToneClip(m_audio + "three.wav", 3));
    m_shield = false;
    PlayHelper* helper = Start();
    const std::vector<Announcement> queue = {
        {"three.wav", "a.wav"}, {"b.mp3"}, {"a.wav"}, {"b.mp3", "a.wav"}};
    for (const Announcement& announcement : queue) {
        ASSERT_TRUE(helper->Enqueue(announcement));
    }
    ASSERT_TRUE(WaitStarted("three.wav"));
    std::string why;
    ASSERT_TRUE(m_server.Restart(std::chrono::milliseconds(1500), &why)) << why;
    ASSERT_TRUE(m_server.StartRecording());
    ASSERT_TRUE(WaitIdle(helper));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const double seconds = SoundingSeconds(m_server.StopRecording());

    std::vector<std::string> played;
    const std::string play = "PlayHelper::Play " + m_audio;
    const std::string log = Log();
    for (size_t at = log.find(play); at != std::string::npos; at = log.find(play, at + 1)) {
        const size_t from = at + play.size();
        played.push_back(log.substr(from, log.find('\n', from) - from));
    }
    EXPECT_EQ(played,
              (std::vector<std::string>{"three.wav", "a.wav", "b.mp3", "a.wav", "b.mp3", "a.wav"}))
        << log;
    EXPECT_EQ(CountOf(log, "PlayHelper 音频设备已断开"), 1u) << log;
    EXPECT_EQ(CountOf(log, "PlayHelper 音频设备已恢复"), 1u) << log;
    // Recording starts with the new server, perhaps after its first clip began.
    EXPECT_GT(seconds, 1.5) << "the clips after the restart reach the new server";
}
}  // namespace
