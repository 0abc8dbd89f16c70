// Lowering and restoring other programs' audio on a real PulseAudio daemon:
// other processes' streams go to 0 and each comes back to its own level,
// channel by channel; the program's own stream is never touched; a missing,
// vanished or silent server changes nothing, logs nothing and does not hold
// the caller; a restore that failed keeps the levels and is tried again.
#include <gtest/gtest.h>
#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <thread>

#include "support/PulseServer.h"
#include "support/PulseVolumes.h"
#include "support/SpawnedProcess.h"
#include "support/TempProgramDir.h"
#include "support/ToneClip.h"
#include "voice/PulseSessions.h"
#include "voice/SdlAudioPlayer.h"
#include "voice/ShieldOthers.h"

namespace {
using pulse_volumes::Channels;
using pulse_volumes::Raw;
using pulse_volumes::Streams;

// Body of a child process (this test program started again with
// kStreamLevels set): one process playing silence on one stream per level,
// opened in the order given, until it is killed. libpulse refuses to work in
// a plain fork of a process that used it, hence the new program.
constexpr const char* kStreamLevels = "VOICE_TEST_STREAM_LEVELS";

[[noreturn]] void PlayStreams(const std::vector<double>& levels) {
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "two streams");
    pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    while (pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
            pa_mainloop_iterate(loop, 1, nullptr) < 0) {
            _exit(2);
        }
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, 44100, 2};
    auto feed = [](pa_stream* stream, size_t bytes, void*) {
        void* data = nullptr;
        if (pa_stream_begin_write(stream, &data, &bytes) == 0 && data != nullptr) {
            std::memset(data, 0, bytes);
            pa_stream_write(stream, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        }
    };
    for (double level : levels) {
        pa_stream* stream = pa_stream_new(context, "silence", &format, nullptr);
        pa_cvolume volume;
        pa_cvolume_set(&volume, 2, Raw(level));
        pa_stream_set_write_callback(stream, feed, nullptr);
        pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, &volume, nullptr);
        // Wait until it exists, so the streams get their indexes in this order.
        while (pa_stream_get_state(stream) != PA_STREAM_READY) {
            if (pa_mainloop_iterate(loop, 1, nullptr) < 0) {
                _exit(3);
            }
        }
    }
    pa_mainloop_run(loop, nullptr);
    _exit(0);
}

const bool s_isStreamChild = [] {
    const char* levels = std::getenv(kStreamLevels);
    if (levels != nullptr) {
        std::vector<double> parsed;
        for (const char* p = levels; *p != '\0';) {
            char* end = nullptr;
            parsed.push_back(std::strtod(p, &end));
            p = *end == ',' ? end + 1 : end;
            if (end == p && *p != '\0') {
                break;
            }
        }
        PlayStreams(parsed);
    }
    return false;
}();

class ShieldOthersTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(m_server.Start(&why)) << why;
        SpawnedProcess::Options options;
        options.environment[kStreamLevels] = "0.3,0.8";
        ASSERT_TRUE(m_twoStreams.Start({"/proc/self/exe"}, options));
        m_clip = m_dir.File("long.wav");
        ASSERT_TRUE(MakeToneClip(m_clip, 120, 440, 2));
    }

    void TearDown() override {
        // Levels a test left waiting for a restore must not reach the next one.
        if (m_server.Running()) {
            ShieldOthers(true);
        }
        m_own.reset();
        m_twoStreams.Stop(SIGKILL);
    }

    void StartOther(SpawnedProcess& player, double level) {
        ASSERT_TRUE(player.Start({"paplay", "--volume=" + std::to_string(Raw(level)), m_clip}, {}));
    }

    // Another program playing one stream at `level`, there before the
    // lowering; its process id, 0 when its stream did not show.
    uint32_t StartOtherAndWait(SpawnedProcess& player, double level) {
        StartOther(player, level);
        const auto pid = static_cast<uint32_t>(player.Pid());
        return WaitForStreams({{pid, 1}})[pid].size() == 1 ? pid : 0;
    }

    // Plays through the program's own player, as an announcement would.
    void StartOwnStream() {
        ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        std::string why;
        m_own = SdlAudioPlayer::Create(&why);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_NE(m_own, nullptr) << why;
        ASSERT_TRUE(m_own->Open(m_clip));
        ASSERT_TRUE(m_own->Play());
    }

    Streams Read() { return pulse_volumes::Read(m_dir.File("inputs.json")); }

    // Waits (within a generous bound) until each process has its streams.
    Streams WaitForStreams(const std::map<uint32_t, size_t>& counts) {
        Streams streams;
        for (int i = 0; i < 300; ++i) {
            streams = Read();
            bool all = true;
            for (const auto& [pid, count] : counts) {
                all = all && streams[pid].size() == count;
            }
            if (all) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return streams;
    }

    static Channels Both(double level) { return pulse_volumes::Stereo(level); }

    TempProgramDir m_dir;
    PulseServer m_server;
    SpawnedProcess m_twoStreams;
    std::string m_clip;
    std::unique_ptr<SdlAudioPlayer> m_own;
};

TEST_F(ShieldOthersTest, LowersOtherStreamsAndRestoresEachToItsOwnLevel) {
    SpawnedProcess player;
    SpawnedProcess browser;
    SpawnedProcess balanced;
    StartOther(player, 0.6);
    StartOther(browser, 1.0);
    StartOther(balanced, 1.0);
    StartOwnStream();
    const auto self = static_cast<uint32_t>(::getpid());
    const auto twoStreams = static_cast<uint32_t>(m_twoStreams.Pid());
    const auto balancedPid = static_cast<uint32_t>(balanced.Pid());
    Streams before = WaitForStreams({{static_cast<uint32_t>(player.Pid()), 1},
                                     {static_cast<uint32_t>(browser.Pid()), 1},
                                     {balancedPid, 1},
                                     {twoStreams, 2},
                                     {self, 1}});
    ASSERT_EQ(before[twoStreams].size(), 2u);
    ASSERT_EQ(before[balancedPid].size(), 1u);
    // A left-right balance must come back whole.
    // Set the balanced player's channels apart through the server's own client.
    const long index = pulse_volumes::IndexOf(m_dir.File("index.json"), balancedPid);
    ASSERT_GE(index, 0);
    SpawnedProcess set;
    ASSERT_TRUE(set.Start({"pactl", "set-sink-input-volume", std::to_string(index),
                           std::to_string(Raw(0.25)), std::to_string(Raw(0.75))},
                          {}));
    set.Stop(0);
    before = Read();
    const Channels ownLevel = before[self].at(0);
    ASSERT_EQ(before[static_cast<uint32_t>(player.Pid())].at(0), Both(0.6));
    ASSERT_EQ(before[balancedPid].at(0),
              (Channels{{"front-left", Raw(0.25)}, {"front-right", Raw(0.75)}}));

    ShieldOthers(false);
    Streams lowered = Read();
    for (const auto& [pid, streams] : lowered) {
        for (const Channels& channels : streams) {
            if (pid == self) {
                EXPECT_EQ(channels, ownLevel) << "the program's own stream";
            } else {
                EXPECT_EQ(channels, Both(0.0)) << "process " << pid;
            }
        }
    }

    ShieldOthers(true);
    Streams restored = Read();
    EXPECT_EQ(restored[static_cast<uint32_t>(player.Pid())], std::vector<Channels>{Both(0.6)});
    EXPECT_EQ(restored[static_cast<uint32_t>(browser.Pid())], std::vector<Channels>{Both(1.0)});
    EXPECT_EQ(restored[twoStreams], (std::vector<Channels>{Both(0.3), Both(0.8)}))
        << "two streams of one program (music and effects) keep their own levels";
    EXPECT_EQ(
        restored[balancedPid],
        std::vector<Channels>{(Channels{{"front-left", Raw(0.25)}, {"front-right", Raw(0.75)}})});
    EXPECT_EQ(restored[self], std::vector<Channels>{ownLevel});
}

// A server that is missing or accepts and never answers: the call comes back,
// nothing changes and nothing is logged.
TEST_F(ShieldOthersTest, AMissingOrSilentServerChangesNothingAndLogsNothing) {
    SpawnedProcess player;
    const uint32_t pid = StartOtherAndWait(player, 0.6);
    ASSERT_NE(pid, 0u);

    ShieldOthers(false);
    ASSERT_EQ(Read()[pid], std::vector<Channels>{Both(0.0)});

    const std::string real = m_server.Address();
    // A socket that takes connections and never says a word.
    const std::string mutePath = m_dir.File("mute.sock");
    const int mute = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, mutePath.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(mute, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(mute, 8), 0);

    const std::vector<std::pair<const char*, std::string>> servers = {
        {"no server", "unix:" + m_dir.File("nothing-here")},
        {"server never answers", "unix:" + mutePath},
    };
    for (const auto& [what, server] : servers) {
        SCOPED_TRACE(what);
        ::setenv("PULSE_SERVER", server.c_str(), 1);
        for (bool restore : {false, true}) {
            auto call = std::async(std::launch::async, [restore] { ShieldOthers(restore); });
            ASSERT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        }
    }
    ::close(mute);
    ::setenv("PULSE_SERVER", real.c_str(), 1);
    EXPECT_EQ(Read()[pid], std::vector<Channels>{Both(0.0)}) << "nothing changed meanwhile";
    EXPECT_FALSE(m_dir.Exists("log")) << "failures are silent";
}

TEST_F(ShieldOthersTest, TheServerGoingAwayMidRunIsSurvived) {
    SpawnedProcess player;
    const uint32_t pid = StartOtherAndWait(player, 0.6);
    ASSERT_NE(pid, 0u);
    ShieldOthers(false);
    m_server.Stop();
    auto call = std::async(std::launch::async, [] { ShieldOthers(true); });
    ASSERT_EQ(call.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(m_dir.Exists("log"));
    EXPECT_TRUE(m_dir.Exists("ShieldLevels.txt")) << "kept for the next try";

    // The shutdown's restore tries again: with a server back it succeeds.
    std::string why;
    ASSERT_TRUE(m_server.Start(&why)) << why;
    ShieldOthers(true);
    EXPECT_FALSE(m_dir.Exists("ShieldLevels.txt"));
}

// A restore that misses its deadline (the server stopped in its tracks) keeps
// the saved levels: the next run's start gives them back before it lowers
// again, and its own restore then brings back the level from before the
// first run, not the 0 the failed restore left.
TEST_F(ShieldOthersTest, AFailedRestoreKeepsTheLevelsAndIsTriedAgain) {
    SpawnedProcess player;
    const uint32_t pid = StartOtherAndWait(player, 0.6);
    ASSERT_NE(pid, 0u);
    ShieldOthers(false);
    ASSERT_EQ(Read()[pid], std::vector<Channels>{Both(0.0)});

    m_server.Freeze();
    auto call = std::async(std::launch::async, [] { ShieldOthers(true); });
    const bool returned = call.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    m_server.Thaw();
    ASSERT_TRUE(returned);
    EXPECT_EQ(Read()[pid], std::vector<Channels>{Both(0.0)}) << "the restore did not get through";
    EXPECT_TRUE(m_dir.Exists("ShieldLevels.txt"));

    ShieldOthers(false);
    EXPECT_EQ(Read()[pid], std::vector<Channels>{Both(0.0)});
    ShieldOthers(true);
    EXPECT_EQ(Read()[pid], std::vector<Channels>{Both(0.6)});
    EXPECT_FALSE(m_dir.Exists("ShieldLevels.txt"));
}
// The server answers the listing and is gone before the volumes are set:
// nothing is logged and the call comes back.
class VanishingServer : public PulseSessions {
public:
    explicit VanishingServer(PulseServer& server) : m_server(server) {}
    bool List(std::vector<PulseStream>& streams) override {
        const bool listed = PulseSessions::List(streams);
        m_server.Stop();
        return listed;
    }
    bool SetVolumes(const std::vector<Change>& changes) override {
        m_setFailed = !PulseSessions::SetVolumes(changes);
        return !m_setFailed;
    }
    bool m_setFailed = false;

private:
    PulseServer& m_server;
};

TEST_F(ShieldOthersTest, TheServerVanishingBetweenListingAndSettingIsSilent) {
    SpawnedProcess player;
    const uint32_t pid = StartOtherAndWait(player, 0.6);
    ASSERT_NE(pid, 0u);
    auto sessions = std::make_unique<VanishingServer>(m_server);
    VanishingServer* vanishing = sessions.get();
    PulseSessions::Install(std::move(sessions));
    ShieldOthers(false);
    EXPECT_TRUE(vanishing->m_setFailed) << "the volumes had no server to go to";
    PulseSessions::Install(nullptr);
    EXPECT_FALSE(m_dir.Exists("log"));
}
}  // namespace
