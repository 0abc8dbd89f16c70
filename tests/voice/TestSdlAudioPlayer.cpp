// The SDL2_mixer player on SDL's dummy driver: opening by format, the end of a
// clip reported once and only for the clip being played, calls from inside the
// end callback, clips opened ahead taken once or freed, and no player without
// an audio device; on a real PulseAudio daemon that stops answering, neither
// opening nor closing waits for ever.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "support/PulseServer.h"
#include "support/TempProgramDir.h"
#include "support/ToneClip.h"
#include "voice/SdlAudioPlayer.h"

namespace {
constexpr auto kGenerous = std::chrono::seconds(30);

class SdlAudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::string reason;
        m_player = SdlAudioPlayer::Create(&reason);
        ASSERT_NE(m_player, nullptr) << reason;
        m_player->SetEndCallback([this] { OnEnd(); });
    }
    void TearDown() override { m_player.reset(); }

    std::string Tone(const std::string& name, double seconds, int frequency = 440) {
        const std::string path = m_dir.File(name);
        EXPECT_TRUE(MakeToneClip(path, seconds, frequency)) << path;
        return path;
    }

    void OnEnd() {
        std::function<void()> next;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_ends;
            m_endThreads.push_back(std::this_thread::get_id());
            next = m_onEnd;
        }
        if (next) {
            next();
        }
        m_changed.notify_all();
    }

    // True once `count` ends arrived (false only if they never do).
    bool WaitForEnds(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kGenerous, [&] { return m_ends >= count; });
    }
    int Ends() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ends;
    }

    TempProgramDir m_dir;
    std::unique_ptr<SdlAudioPlayer> m_player;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_ends = 0;
    std::vector<std::thread::id> m_endThreads;
    std::function<void()> m_onEnd;
};

struct OpenCase {
    const char* label;
    const char* name;
    std::string content;  // "tone" makes a real clip
    bool opens;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.label;
}

class SdlAudioPlayerOpen : public SdlAudioPlayerTest,
                           public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SdlAudioPlayerOpen, DetectsTheFormatFromTheFileAndRefusesWhatIsNoAudio) {
    const OpenCase& c = GetParam();
    std::string path = m_dir.File(c.name);
    if (c.content == "tone") {
        path = Tone(c.name, 0.2);
    } else if (c.content == "mp3 tone") {
        std::filesystem::rename(Tone("made.mp3", 0.2), path);
    } else if (c.content != "missing") {
        std::ofstream(path, std::ios::binary) << c.content;
    }
    EXPECT_EQ(m_player->Open(path), c.opens);
    if (!c.opens) {
        EXPECT_FALSE(m_player->LastError().empty());
        EXPECT_FALSE(m_player->Play()) << "nothing open, nothing to play";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SdlAudioPlayerOpen,
    ::testing::Values(OpenCase{"Wav", "tone.wav", "tone", true},
                      OpenCase{"Mp3", "tone.mp3", "tone", true},
                      // the content decides, not the name
                      OpenCase{"Mp3NamedWav", "mp3inside.wav", "mp3 tone", true},
                      OpenCase{"ChineseName", "号机需要服务员帮助.mp3", "tone", true},
                      OpenCase{"Missing", "missing.wav", "missing", false},
                      OpenCase{"Empty", "empty.mp3", "", false},
                      OpenCase{"Text", "text.wav", "this is not a sound file at all\n", false},
                      OpenCase{"TruncatedRiff", "riff.wav",
                               std::string("RIFF\x10\0\0\0WAVEfmt ", 16), false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SdlAudioPlayerTest, ReportsTheNaturalEndOfAClipOnItsOwnThread) {
    ASSERT_TRUE(m_player->Open(Tone("a.wav", 0.3)));
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(WaitForEnds(1));
    ASSERT_TRUE(m_player->Open(Tone("b.mp3", 0.3)));
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(WaitForEnds(2));
    EXPECT_EQ(Ends(), 2);
    for (const auto& id : m_endThreads) {
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

// A clip cut short by the owner is no end: only the clip started afterwards
// (which plays longer than the cut one would have) reports one.
TEST_F(SdlAudioPlayerTest, AClipCutShortReportsNoEnd) {
    const std::string shortClip = Tone("short.wav", 0.2);
    const std::string longer = Tone("longer.wav", 0.6);
    using Cut = void (*)(SdlAudioPlayer&, const std::string&);
    const std::vector<std::pair<const char*, Cut>> cuts = {
        {"stop", [](SdlAudioPlayer& p, const std::string&) { p.Stop(); }},
        {"close", [](SdlAudioPlayer& p, const std::string&) { p.Close(); }},
        {"open another", [](SdlAudioPlayer& p, const std::string& other) { p.Open(other); }},
        {"play again", [](SdlAudioPlayer& p, const std::string&) { p.Play(); }},
    };
    int expected = 0;
    for (const auto& [what, cut] : cuts) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(m_player->Open(shortClip));
        ASSERT_TRUE(m_player->Play());
        cut(*m_player, longer);
        ASSERT_TRUE(m_player->Open(longer));
        ASSERT_TRUE(m_player->Play());
        ++expected;
        ASSERT_TRUE(WaitForEnds(expected));
        EXPECT_EQ(Ends(), expected);
    }
}

TEST_F(SdlAudioPlayerTest, TheEndCallbackMayStopOpenAndPlayTheNextClip) {
    const std::vector<std::string> clips = {Tone("1.wav", 0.15), Tone("2.mp3", 0.15, 660),
                                            Tone("3.wav", 0.15, 880)};
    size_t next = 1;
    m_onEnd = [&] {
        if (next < clips.size()) {
            m_player->Stop();
            m_player->Close();
            ASSERT_TRUE(m_player->Open(clips[next++]));
            m_player->SetVolume(50, 50);
            ASSERT_TRUE(m_player->Play());
        }
    };
    ASSERT_TRUE(m_player->Open(clips[0]));
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(WaitForEnds(3));
    EXPECT_EQ(next, clips.size());
}

// What was opened ahead is taken by the Open of its path without reading the
// file (it is gone by then), and only once: the next Open reads the file.
TEST_F(SdlAudioPlayerTest, AClipOpenedAheadIsTakenOnceWithoutReadingTheFileAgain) {
    const std::string first = Tone("first.wav", 0.2);
    const std::string next = Tone("next.mp3", 0.2, 660);
    ASSERT_TRUE(m_player->Open(first));
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(m_player->OpenAhead(next));
    EXPECT_EQ(SdlAudioPlayer::ChunksHeld(), 2);
    ASSERT_TRUE(WaitForEnds(1));
    std::filesystem::remove(next);
    m_player->Close();
    ASSERT_TRUE(m_player->Open(next)) << m_player->LastError();
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(WaitForEnds(2));
    m_player->Close();
    EXPECT_EQ(SdlAudioPlayer::ChunksHeld(), 0);
    EXPECT_FALSE(m_player->Open(next)) << "taken once, then gone";
    EXPECT_FALSE(m_player->OpenAhead(next));
    EXPECT_EQ(SdlAudioPlayer::ChunksHeld(), 0);
}

struct AheadCase {
    const char* name;
    void (*then)(SdlAudioPlayer& player, const std::string& other);
    int held;  // decoded clips held afterwards: the open one, if any
};

void PrintTo(const AheadCase& c, std::ostream* os) {
    *os << c.name;
}

class SdlAudioPlayerAhead : public SdlAudioPlayerTest,
                            public ::testing::WithParamInterface<AheadCase> {};

// A clip opened ahead that is not played is freed, whatever comes instead.
TEST_P(SdlAudioPlayerAhead, AClipOpenedAheadAndNotPlayedIsFreed) {
    const std::string playing = Tone("playing.wav", 5);
    const std::string ahead = Tone("ahead.wav", 0.2, 660);
    const std::string other = Tone("other.wav", 0.2, 880);
    ASSERT_TRUE(m_player->Open(playing));
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(m_player->OpenAhead(ahead));
    ASSERT_EQ(SdlAudioPlayer::ChunksHeld(), 2);
    GetParam().then(*m_player, other);
    EXPECT_EQ(SdlAudioPlayer::ChunksHeld(), GetParam().held);
    m_player.reset();
    EXPECT_EQ(SdlAudioPlayer::ChunksHeld(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SdlAudioPlayerAhead,
    ::testing::Values(
        AheadCase{"Dropped", [](SdlAudioPlayer& p, const std::string&) { p.DropAhead(); }, 1},
        AheadCase{"AnotherClipOpened",
                  [](SdlAudioPlayer& p, const std::string& other) { p.Open(other); }, 1},
        AheadCase{"AnotherOpenedAheadThenDropped",
                  [](SdlAudioPlayer& p, const std::string& other) {
                      p.OpenAhead(other);
                      p.DropAhead();
                  },
                  1},
        AheadCase{"StoppedAndClosed",
                  [](SdlAudioPlayer& p, const std::string&) {
                      p.Stop();
                      p.Close();
                  },
                  1},  // kept: the owner stops and closes before every next clip
        AheadCase{"PlayerReleased", [](SdlAudioPlayer&, const std::string&) {}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SdlAudioPlayerTest, OnlyOnePlayerAtATime) {
    std::string reason;
    EXPECT_EQ(SdlAudioPlayer::Create(&reason), nullptr);
    EXPECT_FALSE(reason.empty());
    m_player.reset();
    auto again = SdlAudioPlayer::Create(&reason);
    EXPECT_NE(again, nullptr) << reason;
}

TEST(SdlAudioPlayerDevice, NoUsableAudioDeviceGivesNoPlayer) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    std::string reason;
    auto player = SdlAudioPlayer::Create(&reason);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    EXPECT_EQ(player, nullptr);
    EXPECT_FALSE(reason.empty());
    // Nothing is left half open: the next player gets the device.
    EXPECT_NE(SdlAudioPlayer::Create(&reason), nullptr) << reason;
}

// A daemon stopped with SIGSTOP keeps its socket and never answers; SDL would
// wait for it for ever. The bounds below only catch such a hang.
class SdlAudioPlayerFrozenServer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(m_server.Start(&why)) << why;
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    }
    // The device is left free for the next test: a close still waiting on the
    // server ends with its connection.
    void TearDown() override {
        m_server.Stop();
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::string reason;
        EXPECT_NE(CreateOnceFree(reason), nullptr) << reason;
    }

    // Runs `step` and says whether it came back within 10 s.
    template <typename Step>
    static bool ReturnsSoon(Step step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        return std::chrono::steady_clock::now() - start < std::chrono::seconds(10);
    }

    // A player once SDL has let go of the device (after a late open or close).
    static std::unique_ptr<SdlAudioPlayer> CreateOnceFree(std::string& reason) {
        std::unique_ptr<SdlAudioPlayer> player;
        for (int i = 0; i < 600 && !player; ++i) {
            player = SdlAudioPlayer::Create(&reason);
            if (!player) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        return player;
    }

    PulseServer m_server;
};

TEST_F(SdlAudioPlayerFrozenServer, ClosingGivesUpAndTheDeviceIsFreeOnceTheServerAnswers) {
    std::string reason;
    auto player = SdlAudioPlayer::Create(&reason);
    ASSERT_NE(player, nullptr) << reason;
    m_server.Freeze();
    // What the server sent before it stopped is read first; only then does
    // SDL's audio thread wait on it for good, as it does mid-announcement.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(ReturnsSoon([&] { player.reset(); }));
    // SDL is still inside its close: no second player meanwhile.
    EXPECT_TRUE(ReturnsSoon([&] { player = SdlAudioPlayer::Create(&reason); }));
    EXPECT_EQ(player, nullptr);
    EXPECT_NE(reason.find("still closing"), std::string::npos) << reason;

    m_server.Thaw();
    player = CreateOnceFree(reason);
    EXPECT_NE(player, nullptr) << reason;
}

TEST_F(SdlAudioPlayerFrozenServer, OpeningGivesUpAndALateOpenLetsGoOfTheDevice) {
    m_server.Freeze();
    std::string reason;
    std::unique_ptr<SdlAudioPlayer> player;
    EXPECT_TRUE(ReturnsSoon([&] { player = SdlAudioPlayer::Create(&reason); }));
    EXPECT_EQ(player, nullptr);
    EXPECT_NE(reason.find("did not answer"), std::string::npos) << reason;

    m_server.Thaw();
    player = CreateOnceFree(reason);
    ASSERT_NE(player, nullptr) << reason;
}
}  // namespace
