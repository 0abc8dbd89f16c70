// The SDL2 player on SDL's dummy driver: opening by format, the end of a clip
// reported once and only for the clip being played, calls from inside the end
// callback, clips opened ahead taken once or freed, long clips opened without
// decoding them whole, and no player without an audio device. On a real
// PulseAudio daemon: clips joined without silence, the volume changed
// mid-clip, no stream while nothing plays, and neither opening nor closing
// waits for ever on a daemon that stops answering.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "support/PulseServer.h"
#include "support/PulseVolumes.h"
#include "support/TempProgramDir.h"
#include "support/ToneClip.h"
#include "support/WaitUntil.h"
#include "voice/SdlAudioPlayer.h"

namespace {
constexpr auto kGenerous = std::chrono::seconds(30);

class SdlAudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        MakePlayer(SdlAudioPlayer::kBufferFrames);
    }
    void TearDown() override { m_player.reset(); }

    void MakePlayer(int bufferFrames) {
        std::string reason;
        m_player = SdlAudioPlayer::Create(&reason, bufferFrames);
        ASSERT_NE(m_player, nullptr) << reason;
        m_player->SetEndCallback([this] { OnEnd(); });
    }

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
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 2);
    ASSERT_TRUE(WaitForEnds(1));
    std::filesystem::remove(next);
    m_player->Close();
    ASSERT_TRUE(m_player->Open(next)) << m_player->LastError();
    ASSERT_TRUE(m_player->Play());
    ASSERT_TRUE(WaitForEnds(2));
    m_player->Close();
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 0);
    EXPECT_FALSE(m_player->Open(next)) << "taken once, then gone";
    EXPECT_FALSE(m_player->OpenAhead(next));
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 0);
}

// Resident memory of this process in kB, as the kernel counts it.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

class SdlAudioPlayerLongClip : public SdlAudioPlayerTest,
                               public ::testing::WithParamInterface<const char*> {};

// Ten minutes of stereo 44.1 kHz are 106 MB decoded; opened and opened ahead
// (twice that decoded whole), the player holds only its decoders.
TEST_P(SdlAudioPlayerLongClip, OpensWithoutDecodingTheClipWhole) {
    // Made by sox in a shell: encoding ten minutes of mp3 outlasts the
    // helper's patience on a busy machine.
    const std::string path = m_dir.File(std::string("long.") + GetParam());
    ASSERT_EQ(
        std::system(("sox -n -r 44100 -c 1 '" + path + "' synth 600 sine 440 vol 0.5").c_str()), 0);
    const long before = ResidentKb();
    ASSERT_GT(before, 0);
    ASSERT_TRUE(m_player->Open(path)) << m_player->LastError();
    ASSERT_TRUE(m_player->OpenAhead(path));
    ASSERT_TRUE(m_player->Play());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ResidentKb() - before, 20 * 1024);
    m_player->Stop();
}

INSTANTIATE_TEST_SUITE_P(Formats, SdlAudioPlayerLongClip, ::testing::Values("wav", "mp3"),
                         [](const auto& info) { return std::string(info.param); });

struct AheadCase {
    const char* name;
    void (*then)(SdlAudioPlayer& player, const std::string& other);
    int held;  // clips held open afterwards: the open one, if any
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
    ASSERT_EQ(SdlAudioPlayer::DecodersHeld(), 2);
    GetParam().then(*m_player, other);
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), GetParam().held);
    m_player.reset();
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 0);
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

// The player on a real PulseAudio daemon whose null sink is recorded. A large
// buffer keeps a busy test machine from underrunning, which would put
// silence into the recording that the player did not.
class SdlAudioPlayerOnPulse : public SdlAudioPlayerTest {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(m_server.Start(&why)) << why;
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        MakePlayer(4096);
    }
    void TearDown() override {
        m_player.reset();
        m_server.Stop();
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    }

    size_t SinkInputs() { return pulse_volumes::List(m_dir.File("inputs.json")).size(); }

    // The owner's part at each end, as PlayHelper does it: stop and close,
    // then open and play the next clip, which was opened ahead.
    void PlayInTurn(const std::vector<std::string>& clips) {
        // Shared: the fixture calls a copy of the callback.
        auto next = std::make_shared<size_t>(1);
        m_onEnd = [this, clips, next] {
            if (*next < clips.size()) {
                m_player->Close();
                m_player->Stop();
                ASSERT_TRUE(m_player->Open(clips[(*next)++]));
                ASSERT_TRUE(m_player->Play());
                if (*next < clips.size()) {
                    ASSERT_TRUE(m_player->OpenAhead(clips[*next]));
                }
            }
        };
        ASSERT_TRUE(m_player->Open(clips[0]));
        ASSERT_TRUE(m_player->Play());
        ASSERT_TRUE(m_player->OpenAhead(clips[1]));
    }

    PulseServer m_server;
};

// The longest run of near-zero samples between the first and the last loud one.
size_t LongestQuietRunWithin(const std::vector<int16_t>& samples) {
    constexpr int kLoud = 3000;
    constexpr int kQuiet = 16;
    size_t first = samples.size();
    size_t last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > kLoud) {
            first = std::min(first, i);
            last = i;
        }
    }
    size_t longest = 0;
    size_t run = 0;
    for (size_t i = first; i <= last && i < samples.size(); ++i) {
        run = std::abs(samples[i]) <= kQuiet ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

struct JoinCase {
    const char* label;
    const char* first;
    const char* second;
};

void PrintTo(const JoinCase& c, std::ostream* os) {
    *os << c.label;
}

class SdlAudioPlayerJoin : public SdlAudioPlayerOnPulse,
                           public ::testing::WithParamInterface<JoinCase> {
protected:
    // Half a second of tone; an mp3 is encoded by lame, whose header tells
    // the decoder how much encoder delay and padding to cut (sox's mp3 has
    // none, and its padding is silence in the clip itself).
    std::string Clip(const std::string& name, int frequency) {
        const std::string wav = Tone(name + ".wav", 0.5, frequency);
        if (name.size() < 4 || name.substr(name.size() - 4) != ".mp3") {
            return wav;
        }
        const std::string mp3 = m_dir.File(name);
        EXPECT_EQ(std::system(("lame --quiet '" + wav + "' '" + mp3 + "'").c_str()), 0);
        return mp3;
    }
};

// Two tones played in turn, the second opened ahead, sound as one: no run of
// silence of 1 ms or more where they meet (SDL_mixer left 9 to 17 ms).
TEST_P(SdlAudioPlayerJoin, ClipsOpenedAheadFollowWithoutSilence) {
    const std::vector<std::string> clips = {Clip(GetParam().first, 440),
                                            Clip(GetParam().second, 660)};
    ASSERT_TRUE(m_server.StartRecording());
    PlayInTurn(clips);
    ASSERT_TRUE(WaitForEnds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<int16_t> samples = m_server.StopRecording();
    EXPECT_GT(SoundingSeconds(samples), 0.9) << "both tones came out";
    EXPECT_LT(LongestQuietRunWithin(samples), size_t{PulseServer::kRecordRate / 1000});
}

INSTANTIATE_TEST_SUITE_P(Formats, SdlAudioPlayerJoin,
                         ::testing::Values(JoinCase{"WavToWav", "a.wav", "b.wav"},
                                           JoinCase{"Mp3ToWav", "a.mp3", "b.wav"},
                                           JoinCase{"WavToMp3", "a.wav", "b.mp3"}),
                         [](const auto& info) { return std::string(info.param.label); });

double Rms(const std::vector<int16_t>& samples, size_t from, size_t to) {
    double sum = 0;
    to = std::min(to, samples.size());
    for (size_t i = from; i < to; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

TEST_F(SdlAudioPlayerOnPulse, AVolumeChangedMidClipIsHeardInThatClip) {
    const std::string clip = Tone("long.wav", 3);
    ASSERT_TRUE(m_server.StartRecording());
    ASSERT_TRUE(m_player->Open(clip));
    ASSERT_TRUE(m_player->Play());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    m_player->SetVolume(10, 10);
    ASSERT_TRUE(WaitForEnds(1));
    const std::vector<int16_t> samples = m_server.StopRecording();
    size_t first = 0;
    while (first < samples.size() && std::abs(samples[first]) < 2000) {
        ++first;
    }
    constexpr size_t kRate = PulseServer::kRecordRate;
    const double loud = Rms(samples, first + kRate / 10, first + kRate / 2);
    const double quiet = Rms(samples, first + kRate * 22 / 10, first + kRate * 28 / 10);
    EXPECT_GT(loud, 5000);
    EXPECT_LT(quiet, loud / 4);
    EXPECT_GT(quiet, loud / 40) << "still playing, at a tenth";
}

// Nothing to play, no stream on the server: SDL would otherwise feed it
// silence for as long as the program runs. The next clip opens it again.
TEST_F(SdlAudioPlayerOnPulse, TheDeviceDoesNotRunWhileThereIsNothingToPlay) {
    const std::string clip = Tone("clip.wav", 0.5);
    ASSERT_TRUE(m_player->Open(clip));
    ASSERT_TRUE(m_player->Play());
    EXPECT_EQ(SinkInputs(), 1u);
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_TRUE(WaitUntil([&] { return SinkInputs() == 0; }, 30));

    ASSERT_TRUE(m_player->Open(clip));
    ASSERT_TRUE(m_player->Play());
    EXPECT_EQ(SinkInputs(), 1u);
    ASSERT_TRUE(WaitForEnds(2));
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
