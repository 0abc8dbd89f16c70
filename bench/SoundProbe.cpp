// Message to sound, and silence between clips, measured on the audio server's
// null sink monitor.
//
// One process holds everything, so one clock measures it all: the voice side's
// own road (SocketHelper, MessageReader, composer, PlayHelper, PlayThread and
// the SDL player) on a Qt event loop, a cashier thread that sends "12,101" from
// idle, and a recorder thread reading the monitor through libpulse. Series:
//
//   road      message to first sound, 0.3 to 0.4 s after the last sound ended,
//             split into message to queue, queue to the first clip's Open
//             (waking the play thread, and lowering other programs where that
//             comes first), and on to Play() and to sound; a lowering that
//             follows the first Play() is timed from it;
//   cold      the same, 2.5 to 2.6 s after the last sound: a player that
//             closes its idle device opens it again first;
//   player    the first clip opened and played with the player directly: the
//             device's share;
//   reference the same tone queued on a bare SDL audio device with the same
//             buffer: the limit of SDL on this server;
//   joins     announcements of "1234,101" (nine clips) through the play queue,
//             every clip a tone with no silence of its own: the silence added
//             at each join between two clips, found in the recorded samples,
//             and every other silence inside the sound counted as an underrun;
//             with the next clip opened ahead and, for comparison, without;
//   steady    a 20 s tone by the player and by the bare device: underruns
//             found on the monitor with no joins at all;
//   memory    a 20-minute clip (PROBE_LONG, else an mp3 made with sox and
//             lame) opened, opened ahead and played for 2 s by the player
//             directly: the time Open takes, resident memory before and after
//             and the process's peak (VmHWM);
//   idle      the play queue and thread after five announcements, then
//             PROBE_IDLE_SECONDS (default 60) with nothing to play: CPU time
//             and context switches (wake-ups) of the threads the sound side
//             brought, SDL's included, in all and per thread;
//   buffers   player, reference, joins and steady at each further buffer.
//
// The road and the comparisons run at the player's own buffer.
//
//   sound_probe SINK COUNT JOIN_ANNOUNCEMENTS [BUFFER...]
//
// PULSE_SERVER names the audio server; PROBE_SHIELD=0 turns the shield switch
// off; PROBE_SERIES names the series to run (comma-separated, default all);
// PROBE_DEBUG=1 lists every quiet stretch of an announcement that had an
// underrun, with the joins where they were expected. The clips are tones made with sox in a
// temporary folder. Each series prints one line of key=value pairs.
#include <SDL2/SDL.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchProgramDir.h"
#include "app/IniHelper.h"
#include "app/VoiceServices.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "voice/AnnouncementComposer.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"
#include "voice/SdlAudioPlayer.h"
#include "voice/ShieldOthersMuting.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kRate = 48000;
constexpr int kChunk = kRate / 200;  // 5 ms of mono samples per read
constexpr int kLoud = 1000;          // a sample above this is sound
constexpr double kClipSeconds = 0.12;
// Quiet stretches shorter than this are the tone's own zero crossings.
constexpr size_t kShortestGap = kRate / 4000;  // 0.25 ms
// A gap this close to a clip boundary (in sounding time) is a join.
constexpr size_t kJoinTolerance = kRate * 3 / 1000;

// Reads the monitor, notes when sound starts after each arming and keeps the
// samples while capturing.
class Recorder {
public:
    bool Start(const std::string& sink, std::string& error) {
        pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = kChunk * 2;
        int err = 0;
        const std::string monitor = sink + ".monitor";
        m_pa = pa_simple_new(nullptr, "sound_probe", PA_STREAM_RECORD, monitor.c_str(), "monitor",
                             &format, nullptr, &attr, &err);
        if (m_pa == nullptr) {
            error = pa_strerror(err);
            return false;
        }
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_pa != nullptr)
            pa_simple_free(m_pa);
        m_pa = nullptr;
    }

    // Forget earlier sound; the next sound after `from` is what WaitSound returns.
    void Arm(Clock::time_point from) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armedAt = from;
        m_heard = false;
    }

    // When sound began after the arming, or nothing within `limit`.
    bool WaitSound(std::chrono::milliseconds limit, Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_wake.wait_for(lock, limit, [this] { return m_heard; }))
            return false;
        at = m_heardAt;
        return true;
    }

    // Waits until the monitor stream delivers (its first chunks come late).
    bool WaitFlowing() {
        for (int i = 0; i < 500 && m_chunks.load() < 40; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return m_chunks.load() >= 40;
    }

    // Waits until the monitor has been silent for `quiet`.
    void WaitSilence(std::chrono::milliseconds quiet) {
        for (int i = 0; i < 2000; ++i) {
            if (Clock::now() - m_lastLoud.load() >= quiet)
                return;
            std::this_thread::sleep_for(10ms);
        }
    }

    void StartCapture() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_captured.clear();
        m_capturing = true;
    }

    std::vector<int16_t> StopCapture() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_capturing = false;
        return std::move(m_captured);
    }

private:
    void Run() {
        std::vector<int16_t> buf(kChunk);
        while (!m_stop) {
            int err = 0;
            if (pa_simple_read(m_pa, buf.data(), buf.size() * 2, &err) < 0)
                return;
            const auto readAt = Clock::now();
            ++m_chunks;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_capturing)
                m_captured.insert(m_captured.end(), buf.begin(), buf.end());
            for (int i = 0; i < kChunk; ++i) {
                if (std::abs(static_cast<int>(buf[static_cast<size_t>(i)])) < kLoud)
                    continue;
                // The chunk ends now; the sample lies (kChunk - i) samples earlier.
                const auto at = readAt - std::chrono::microseconds(
                                             static_cast<int64_t>(kChunk - i) * 1000000 / kRate);
                m_lastLoud = readAt;
                if (!m_heard && at >= m_armedAt) {
                    m_heard = true;
                    m_heardAt = at;
                    m_wake.notify_all();
                }
                break;
            }
        }
    }

    pa_simple* m_pa = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_chunks{0};
    std::atomic<Clock::time_point> m_lastLoud{Clock::time_point{}};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Clock::time_point m_armedAt;
    Clock::time_point m_heardAt;
    bool m_heard = false;
    bool m_capturing = false;
    std::vector<int16_t> m_captured;
};

bool MakeTones(const std::string& dir, const Announcement& clips,
               std::vector<size_t>* lengths = nullptr);

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    std::vector<double> v;
    double Pct(double p) {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
    }
};

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The silences inside one recorded announcement of tone clips of the given
// lengths (in samples of the recording): the one at each join goes to `joins`
// (0 when there is none), any other is an underrun. The server drops what
// comes late after an underrun, so the joins after one cannot be placed: an
// announcement with an underrun adds no joins.
int SplitSilences(const std::vector<int16_t>& samples, const std::vector<size_t>& lengths,
                  Stats& joins) {
    auto loud = [&](size_t i) { return std::abs(static_cast<int>(samples[i])) >= kLoud; };
    size_t first = 0;
    while (first < samples.size() && !loud(first))
        ++first;
    size_t last = samples.size();
    while (last > first && !loud(last - 1))
        --last;
    if (first >= last)
        return 0;
    std::vector<size_t> boundaries;  // sounding time at each join
    size_t sum = 0;
    for (size_t k = 0; k + 1 < lengths.size(); ++k)
        boundaries.push_back(sum += lengths[k]);
    std::vector<double> gap(boundaries.size(), 0.0);
    int underruns = 0;
    size_t silent = 0;  // samples of the gaps so far
    for (size_t i = first; i < last;) {
        if (loud(i)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < last && !loud(end))
            ++end;
        const size_t length = end - i;
        if (length >= kShortestGap) {
            const size_t sounding = i - first - silent;  // sound heard before this gap
            bool join = false;
            for (size_t k = 0; k < boundaries.size() && !join; ++k) {
                const size_t off =
                    sounding > boundaries[k] ? sounding - boundaries[k] : boundaries[k] - sounding;
                if (off <= kJoinTolerance) {
                    gap[k] += 1000.0 * static_cast<double>(length) / kRate;
                    join = true;
                }
            }
            if (!join) {
                ++underruns;
                std::fprintf(stderr, "silence of %.2f ms after %.1f ms of sound\n",
                             1000.0 * static_cast<double>(length) / kRate,
                             1000.0 * static_cast<double>(sounding) / kRate);
            }
            silent += length;
        }
        i = end;
    }
    if (underruns == 0)
        joins.v.insert(joins.v.end(), gap.begin(), gap.end());
    if (underruns > 0 && getenv("PROBE_DEBUG") != nullptr) {
        std::fprintf(stderr, "boundaries:");
        for (size_t b : boundaries)
            std::fprintf(stderr, " %.1f", 1000.0 * static_cast<double>(b) / kRate);
        std::fprintf(stderr, "\nall quiet stretches:");
        size_t quiet = 0;
        for (size_t i = first; i < last; ++i) {
            if (!loud(i)) {
                ++quiet;
            } else if (quiet > 0) {
                if (quiet >= 3)
                    std::fprintf(stderr, " [%.1f: %.2f]",
                                 1000.0 * static_cast<double>(i - first) / kRate,
                                 1000.0 * static_cast<double>(quiet) / kRate);
                quiet = 0;
            }
        }
        std::fprintf(stderr, "\n");
    }
    return underruns;
}

// The program's lowering of other programs, noting when the first lowering
// since BenchPlayer::ResetTimes (below) was through.
class BenchMuting : public OthersMuting {
public:
    void Lower() override {
        s_lowering = true;
        m_muting.Lower();
        Clock::time_point unset{};
        s_loweredAt.compare_exchange_strong(unset, Clock::now());
    }
    void Restore() override { m_muting.Restore(); }

    static inline std::atomic<bool> s_lowering{false};
    static inline std::atomic<Clock::time_point> s_loweredAt{Clock::time_point{}};

private:
    ShieldOthersMuting m_muting;
};

// The real player as the benchmark wires it: opening ahead can be taken away
// for the comparison, and the time each clip was started is noted.
class BenchPlayer : public AudioPlayer {
public:
    BenchPlayer(std::unique_ptr<AudioPlayer> player, bool openAhead)
        : m_player(std::move(player)), m_openAhead(openAhead) {}
    void SetEndCallback(EndCallback callback) override {
        m_player->SetEndCallback(std::move(callback));
    }
    void SetVolume(unsigned left, unsigned right) override { m_player->SetVolume(left, right); }
    void Stop() override { m_player->Stop(); }
    bool Open(const std::string& path) override {
        Note(s_openedAt);
        return m_player->Open(path);
    }
    bool OpenAhead(const std::string& path) override {
        return m_openAhead && m_player->OpenAhead(path);
    }
    void DropAhead() override { m_player->DropAhead(); }
    bool Play() override {
        const bool started = m_player->Play();
        Note(s_playedAt);
        return started;
    }
    std::string LastError() const override { return m_player->LastError(); }
    void Close() override { m_player->Close(); }
    bool DeviceLost() const override { return m_player->DeviceLost(); }

    // The first Open and Play() since ResetTimes: the first clip's, not the
    // next one's, however late the measuring thread reads them.
    static void ResetTimes() {
        s_openedAt = Clock::time_point{};
        s_playedAt = Clock::time_point{};
        BenchMuting::s_lowering = false;
        BenchMuting::s_loweredAt = Clock::time_point{};
    }
    static inline std::atomic<Clock::time_point> s_openedAt{Clock::time_point{}};
    static inline std::atomic<Clock::time_point> s_playedAt{Clock::time_point{}};

private:
    static void Note(std::atomic<Clock::time_point>& at) {
        Clock::time_point unset{};
        at.compare_exchange_strong(unset, Clock::now());
    }

    std::unique_ptr<AudioPlayer> m_player;
    bool m_openAhead;
};

// Names the playback stream of the players made from now on, so that the
// server's log tells the series apart ("Underrun of '<name>'").
void NameStream(const std::string& name) {
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, name.c_str());
    std::printf("stream %s\n", name.c_str());
}

// A play queue whose players use `frames` of device buffer.
PlayHelper::Options UseBuffer(int frames, bool openAhead) {
    PlayHelper::Options options;
    options.shieldOn = [] { return IniHelper::GetInstance()->Settings().shield.load(); };
    options.muting = std::make_unique<BenchMuting>();
    options.makePlayer = [frames, openAhead](std::string*) -> std::unique_ptr<AudioPlayer> {
        std::unique_ptr<AudioPlayer> player = SdlAudioPlayer::Create(nullptr, frames);
        if (!player)
            return player;
        return std::make_unique<BenchPlayer>(std::move(player), openAhead);
    };
    return options;
}

// Message to first sound over the whole road, each message `quiet` and a
// random 0 to 100 ms after the last sound ended.
void Road(QCoreApplication& app, Recorder& recorder, int count, const char* mode,
          std::chrono::milliseconds quiet) {
    NameStream(std::string("road-") + mode);
    auto owned = std::make_unique<PlayHelper>(UseBuffer(SdlAudioPlayer::kBufferFrames, true));
    PlayHelper* play = owned.get();
    std::atomic<Clock::time_point> enqueuedAt{Clock::time_point{}};
    // Queues with PlayHelper, as the program does, noting when.
    AnnouncementComposer composer([&](const Announcement& announcement) {
        enqueuedAt = Clock::now();
        play->Enqueue(announcement);
    });
    MessageReader reader([&](const CashierMessage& m) { VoiceServices::Compose(composer, m); });
    SocketHelper* link = SocketHelper::GetInstance();
    std::wstring bindError;
    int port = 0;
    for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
        const int candidate = 20000 + static_cast<int>((getpid() * 7 + attempt * 131) % 20000);
        if (link->BindPort(candidate, bindError))
            port = candidate;
    }
    if (port == 0 || play == nullptr ||
        !link->StartListening([&](int fd) { return reader.OnSocketRead(fd); })) {
        std::fprintf(stderr, "sound_probe: cannot set up the voice side\n");
        std::exit(1);
    }
    PlayThread playThread(*play);
    playThread.Start();

    Stats road, toQueue, toOpen, toPlay, toSound, toLowered;
    int loweredLate = 0;  // others lowered only after the first sound
    int missed = 0;
    std::thread cashier([&] {
        const int fd = Connect(port);
        for (int i = 0; fd >= 0 && i < count; ++i) {
            recorder.WaitSilence(quiet);
            std::this_thread::sleep_for(std::chrono::milliseconds(rand() % 100));
            BenchPlayer::ResetTimes();
            const auto t0 = Clock::now();
            recorder.Arm(t0);
            if (send(fd, "12,101", 6, MSG_NOSIGNAL) != 6)
                break;
            char ok[2];
            recv(fd, ok, 2, MSG_WAITALL);
            Clock::time_point heard;
            if (recorder.WaitSound(3000ms, heard)) {
                road.v.push_back(Ms(heard - t0));
                const Clock::time_point queued = enqueuedAt.load();
                const Clock::time_point opened = BenchPlayer::s_openedAt.load();
                const Clock::time_point played = BenchPlayer::s_playedAt.load();
                if (queued >= t0 && opened >= queued && played >= opened && heard >= played) {
                    toQueue.v.push_back(Ms(queued - t0));
                    toOpen.v.push_back(Ms(opened - queued));
                    toPlay.v.push_back(Ms(played - queued));
                    toSound.v.push_back(Ms(heard - played));
                }
                // A lowering that follows the first Play() may end after the sound began.
                for (int k = 0; k < 1000 && BenchMuting::s_lowering &&
                                BenchMuting::s_loweredAt.load() == Clock::time_point{};
                     ++k)
                    std::this_thread::sleep_for(1ms);
                const Clock::time_point lowered = BenchMuting::s_loweredAt.load();
                if (lowered != Clock::time_point{} && played >= t0) {
                    toLowered.v.push_back(Ms(lowered - played));
                    loweredLate += lowered > heard ? 1 : 0;
                }
            } else {
                ++missed;
            }
        }
        if (fd >= 0)
            close(fd);
        recorder.WaitSilence(300ms);
        QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
    });
    app.exec();
    cashier.join();
    playThread.Stop();
    SocketHelper::Destroy();
    owned.reset();
    std::printf(
        "road mode=%s heard=%zu missed=%d p50=%.1f p99=%.1f max=%.1f queue_p50=%.2f "
        "open_p50=%.1f open_p99=%.1f play_p50=%.1f play_p99=%.1f sound_p50=%.1f "
        "sound_p99=%.1f lowered=%zu lowered_p50=%.1f lowered_p99=%.1f lowered_late=%d\n",
        mode, road.v.size(), missed, road.Pct(0.5), road.Pct(0.99), road.Pct(1.0), toQueue.Pct(0.5),
        toOpen.Pct(0.5), toOpen.Pct(0.99), toPlay.Pct(0.5), toPlay.Pct(0.99), toSound.Pct(0.5),
        toSound.Pct(0.99), toLowered.v.size(), toLowered.Pct(0.5), toLowered.Pct(0.99),
        loweredLate);
    std::fflush(stdout);
}

// The first clip straight through the player: no queue, no thread.
void Player(Recorder& recorder, const std::string& clip, int count, int frames) {
    NameStream("player-" + std::to_string(frames));
    std::string error;
    auto player = SdlAudioPlayer::Create(&error, frames);
    Stats open, device;
    for (int i = 0; player && i < count; ++i) {
        recorder.WaitSilence(300ms);
        const auto t0 = Clock::now();
        recorder.Arm(t0);
        if (!player->Open(clip))
            break;
        const auto opened = Clock::now();
        if (!player->Play())
            break;
        const auto started = Clock::now();
        Clock::time_point heard;
        if (recorder.WaitSound(3000ms, heard)) {
            open.v.push_back(Ms(opened - t0));
            device.v.push_back(Ms(heard - started));
        }
        recorder.WaitSilence(200ms);
        player->Stop();
        player->Close();
    }
    std::printf("player buffer=%d heard=%zu open_p50=%.2f p50=%.1f p99=%.1f%s%s\n", frames,
                device.v.size(), open.Pct(0.5), device.Pct(0.5), device.Pct(0.99),
                player ? "" : " error=", player ? "" : error.c_str());
    std::fflush(stdout);
}

// A bare SDL audio device with the player's buffer, fed from SDL's own
// queue: the least SDL does to make a sound.
class BareDevice {
public:
    BareDevice(int frames, int channels) : m_channels(channels) {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return;
        m_initialised = true;
        SDL_AudioSpec want{};
        want.freq = 44100;
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(channels);
        want.samples = static_cast<Uint16>(frames);
        m_device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (m_device != 0)
            SDL_PauseAudioDevice(m_device, 0);
    }
    ~BareDevice() {
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
        if (m_initialised)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    BareDevice(const BareDevice&) = delete;
    BareDevice& operator=(const BareDevice&) = delete;

    // Reads a mono 16-bit wave file for every channel; false when it cannot.
    bool Load(const std::string& path) {
        SDL_AudioSpec wav{};
        Uint8* data = nullptr;
        Uint32 length = 0;
        if (m_device == 0 || SDL_LoadWAV(path.c_str(), &wav, &data, &length) == nullptr)
            return false;
        const auto* mono = reinterpret_cast<const int16_t*>(data);
        m_samples.clear();
        for (Uint32 i = 0; i < length / 2; ++i)
            m_samples.insert(m_samples.end(), static_cast<size_t>(m_channels), mono[i]);
        SDL_FreeWAV(data);
        return true;
    }
    bool Play() {
        return SDL_QueueAudio(m_device, m_samples.data(),
                              static_cast<Uint32>(m_samples.size() * sizeof(int16_t))) == 0;
    }

private:
    int m_channels;
    bool m_initialised = false;
    SDL_AudioDeviceID m_device = 0;
    std::vector<int16_t> m_samples;
};

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

void Memory(const std::string& clip, int frames) {
    std::string error;
    auto player = SdlAudioPlayer::Create(&error, frames);
    if (!player) {
        std::printf("memory error=%s\n", error.c_str());
        return;
    }
    const long before = StatusKb("VmRSS");
    const long peakBefore = StatusKb("VmHWM");
    const auto t0 = Clock::now();
    const bool opened = player->Open(clip);
    const auto t1 = Clock::now();
    const bool ahead = player->OpenAhead(clip);
    const auto t2 = Clock::now();
    if (opened)
        player->Play();
    std::this_thread::sleep_for(2s);
    std::printf(
        "memory clip=%s opened=%d open_ms=%.1f ahead_ms=%.1f rss_before_kb=%ld "
        "rss_after_kb=%ld hwm_before_kb=%ld hwm_after_kb=%ld\n",
        std::filesystem::path(clip).extension().string().substr(1).c_str(), opened && ahead,
        Ms(t1 - t0), Ms(t2 - t1), before, StatusKb("VmRSS"), peakBefore, StatusKb("VmHWM"));
    std::fflush(stdout);
    player->Stop();
    player->Close();
}

// CPU time and context switches (wake-ups) of one thread of this process.
struct ThreadCost {
    std::string name;
    long ticks = 0;
    long long runNs = 0;  // schedstat: finer than the ticks
    long voluntary = 0;
    long involuntary = 0;
};

std::map<long, ThreadCost> ThreadCosts() {
    std::map<long, ThreadCost> costs;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ThreadCost cost;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        if (text.rfind(')') == std::string::npos)
            continue;
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; fields >> field && i <= 15; ++i) {
            if (i == 14 || i == 15)
                cost.ticks += std::stol(field);
        }
        std::ifstream(entry.path() / "schedstat") >> cost.runNs;
        std::ifstream(entry.path() / "comm") >> cost.name;
        std::ifstream status(entry.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                cost.voluntary = std::stol(line.substr(line.find(':') + 1));
            if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                cost.involuntary = std::stol(line.substr(line.find(':') + 1));
        }
        costs[std::stol(entry.path().filename().string())] = cost;
    }
    return costs;
}

// The sound side is every thread that the play queue, its thread and the
// player brought: those not there before the queue was made, SDL's included.
// Read every second, so that a thread ending meanwhile (SDL's, when an idle
// device is closed) keeps what it did up to its last reading.
void Idle(Recorder& recorder, const Announcement& clips, int seconds) {
    const auto others = ThreadCosts();
    auto owned = std::make_unique<PlayHelper>(UseBuffer(SdlAudioPlayer::kBufferFrames, true));
    PlayThread playThread(*owned);
    playThread.Start();
    for (int i = 0; i < 5; ++i) {
        recorder.Arm(Clock::now());
        owned->Enqueue(clips);
        Clock::time_point heard;
        recorder.WaitSound(3000ms, heard);
        for (int k = 0; k < 500 && !owned->IsIdle(); ++k)
            std::this_thread::sleep_for(10ms);
        recorder.WaitSilence(300ms);
    }
    // From 5 s on, the device closed for idleness is behind.
    constexpr int kSettled = 5;
    std::map<long, ThreadCost> first, settled, last;
    for (const auto& [tid, cost] : ThreadCosts()) {
        if (!others.count(tid))
            first[tid] = cost;
    }
    last = first;
    const auto start = Clock::now();
    for (int s = 1; s <= seconds; ++s) {
        std::this_thread::sleep_until(start + std::chrono::seconds(s));
        for (const auto& [tid, cost] : ThreadCosts()) {
            if (!others.count(tid))
                last[tid] = cost;
        }
        if (s == kSettled)
            settled = last;
    }
    const auto now = ThreadCosts();
    long ticks = 0, voluntary = 0, involuntary = 0, lateSwitches = 0;
    long long runNs = 0, lateNs = 0;
    int threads = 0, ended = 0;
    const ThreadCost zero;
    for (const auto& [tid, cost] : last) {
        const ThreadCost& from = first.count(tid) ? first.at(tid) : zero;
        const ThreadCost& mid = settled.count(tid) ? settled.at(tid) : zero;
        const bool gone = !now.count(tid);
        ++(gone ? ended : threads);
        ticks += cost.ticks - from.ticks;
        runNs += cost.runNs - from.runNs;
        voluntary += cost.voluntary - from.voluntary;
        involuntary += cost.involuntary - from.involuntary;
        const long late = cost.voluntary + cost.involuntary - mid.voluntary - mid.involuntary;
        lateSwitches += late;
        lateNs += cost.runNs - mid.runNs;
        std::printf(
            "idle_thread name=%s ended=%d ticks=%ld run_ms=%.2f voluntary=%ld involuntary=%ld "
            "late_switches=%ld\n",
            cost.name.c_str(), gone ? 1 : 0, cost.ticks - from.ticks,
            static_cast<double>(cost.runNs - from.runNs) / 1e6, cost.voluntary - from.voluntary,
            cost.involuntary - from.involuntary, late);
    }
    const long hz = sysconf(_SC_CLK_TCK);
    std::printf(
        "idle seconds=%d ticks=%ld cpu_ticks_pct=%.3f run_ms=%.2f cpu_pct=%.4f voluntary=%ld "
        "involuntary=%ld switches_per_s=%.2f threads_left=%d threads_ended=%d late_from_s=%d "
        "late_run_ms=%.2f late_switches_per_s=%.2f\n",
        seconds, ticks, 100.0 * static_cast<double>(ticks) / static_cast<double>(hz) / seconds,
        static_cast<double>(runNs) / 1e6, static_cast<double>(runNs) / 1e7 / seconds, voluntary,
        involuntary, static_cast<double>(voluntary + involuntary) / seconds, threads, ended,
        kSettled, static_cast<double>(lateNs) / 1e6,
        seconds > kSettled ? static_cast<double>(lateSwitches) / (seconds - kSettled) : 0.0);
    std::fflush(stdout);
    playThread.Stop();
}

// The same tone queued on a bare SDL device with the same buffer.
void Reference(Recorder& recorder, const std::string& clip, int count, int frames) {
    NameStream("reference-" + std::to_string(frames));
    Stats device;
    {
        BareDevice bare(frames, 2);  // as the player's device
        for (int i = 0; i < count && (i > 0 || bare.Load(clip)); ++i) {
            recorder.WaitSilence(300ms);
            const auto t0 = Clock::now();
            recorder.Arm(t0);
            bare.Play();
            Clock::time_point heard;
            if (recorder.WaitSound(3000ms, heard))
                device.v.push_back(Ms(heard - t0));
            recorder.WaitSilence(200ms);
        }
    }
    std::printf("reference buffer=%d heard=%zu p50=%.1f p99=%.1f\n", frames, device.v.size(),
                device.Pct(0.5), device.Pct(0.99));
    std::fflush(stdout);
}

// Announcements of many clips through the play queue: the silence at each join.
void Joins(Recorder& recorder, const std::string& dir, const Announcement& clips, int announcements,
           int frames, bool openAhead) {
    NameStream("joins-" + std::to_string(frames) + (openAhead ? "-ahead" : "-due"));
    auto owned = std::make_unique<PlayHelper>(UseBuffer(frames, openAhead));
    PlayHelper* play = owned.get();
    PlayThread playThread(*play);
    playThread.Start();
    Stats joins;
    int underruns = 0;
    int spoiled = 0;  // announcements with an underrun
    int missed = 0;
    for (int i = 0; play != nullptr && i < announcements; ++i) {
        // Lengths drawn anew for each announcement: where a clip ends within the
        // device buffer decides the silence after it.
        std::vector<size_t> lengths;
        if (!MakeTones(dir, clips, &lengths))
            break;
        recorder.WaitSilence(300ms);
        recorder.Arm(Clock::now());
        recorder.StartCapture();
        play->Enqueue(clips);
        Clock::time_point heard;
        if (!recorder.WaitSound(3000ms, heard)) {
            ++missed;
            recorder.StopCapture();
            continue;
        }
        for (int k = 0; k < 500 && !play->IsIdle(); ++k)
            std::this_thread::sleep_for(10ms);
        recorder.WaitSilence(300ms);
        const int found = SplitSilences(recorder.StopCapture(), lengths, joins);
        underruns += found;
        spoiled += found > 0 ? 1 : 0;
    }
    playThread.Stop();
    owned.reset();
    std::printf(
        "joins buffer=%d ahead=%d announcements=%d joins=%zu missed=%d p50=%.2f p90=%.2f "
        "p99=%.2f max=%.2f underruns=%d spoiled=%d\n",
        frames, openAhead ? 1 : 0, announcements, joins.v.size(), missed, joins.Pct(0.5),
        joins.Pct(0.9), joins.Pct(0.99), joins.Pct(1.0), underruns, spoiled);
    std::fflush(stdout);
}

// Gives every clip a tone: of kClipSeconds, or with `lengths` of 100 to 160 ms
// drawn at random (returned in samples of the recording, in clip order).
// One long tone played whole, by the player or by a bare SDL device with the
// same buffer: any quiet stretch inside it is an underrun, so the two show
// whether the player's way of feeding the device adds any.
void Steady(Recorder& recorder, const std::string& tone, double seconds, int frames, bool bare) {
    const std::string kind = bare ? "reference" : "player";
    NameStream("steady-" + kind + "-" + std::to_string(frames));
    Stats none;
    int underruns = -1;
    auto measure = [&](const std::function<bool()>& start) {
        recorder.WaitSilence(300ms);
        recorder.Arm(Clock::now());
        recorder.StartCapture();
        Clock::time_point heard;
        if (!start() || !recorder.WaitSound(3000ms, heard)) {
            recorder.StopCapture();
            return;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        recorder.WaitSilence(300ms);
        underruns = SplitSilences(recorder.StopCapture(),
                                  {static_cast<size_t>(seconds * kRate + 0.5)}, none);
    };
    if (!bare) {
        auto player = SdlAudioPlayer::Create(nullptr, frames);
        if (player && player->Open(tone))
            measure([&] { return player->Play(); });
    } else {
        BareDevice device(frames, 1);
        if (device.Load(tone))
            measure([&] { return device.Play(); });
    }
    std::printf("steady kind=%s buffer=%d seconds=%.0f underruns=%d\n", kind.c_str(), frames,
                seconds, underruns);
    std::fflush(stdout);
}

bool MakeTones(const std::string& dir, const Announcement& clips, std::vector<size_t>* lengths) {
    for (const std::string& clip : clips) {
        const int ms =
            lengths != nullptr ? 100 + rand() % 61 : static_cast<int>(kClipSeconds * 1000);
        // Wave data under every name, mp3 ones too: an mp3 encoder pads the
        // start and end with silence of its own, which is not the player's.
        const std::string cmd = "sox -n -r 44100 -c 1 -b 16 -e signed-integer -t wav '" + dir +
                                "/Audio/" + clip + "' synth " + std::to_string(ms / 1000.0) +
                                " sine 1000 gain -6 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "sound_probe: sox could not make %s\n", clip.c_str());
            return false;
        }
        if (lengths != nullptr)
            lengths->push_back(static_cast<size_t>(ms) * kRate / 1000);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: sound_probe SINK COUNT JOIN_ANNOUNCEMENTS [BUFFER...]\n");
        return 2;
    }
    const std::string sink = argv[1];
    const int count = std::max(1, std::atoi(argv[2]));
    const int joinAnnouncements = std::max(1, std::atoi(argv[3]));
    std::vector<int> buffers;
    for (int i = 4; i < argc; ++i)
        buffers.push_back(std::atoi(argv[i]));
    const std::string dir = UseBenchProgramDir(
        std::string("[WebSetting]\nUrl=http://127.0.0.1:1\nTimeOut=1\ndebug=0\nshield=") +
        (getenv("PROBE_SHIELD") ? getenv("PROBE_SHIELD") : "1") + "\n");

    // Learn the clips and give each a short tone, so that the first sample of
    // the first clip is already sound and no clip holds silence of its own.
    Announcement road;
    Announcement number;
    {
        Announcement* into = &road;
        AnnouncementComposer learn([&](const Announcement& a) { *into = a; });
        learn.ComposeCommaMessage("12", "101");
        into = &number;
        learn.ComposeCommaMessage("1234", "101");
    }
    if (road.empty() || number.size() < 2 || !MakeTones(dir, road) || !MakeTones(dir, number)) {
        std::fprintf(stderr, "sound_probe: cannot make the clips\n");
        return 1;
    }

    QCoreApplication app(argc, argv);
    Recorder recorder;
    std::string error;
    if (!recorder.Start(sink, error)) {
        std::fprintf(stderr, "sound_probe: cannot record %s.monitor: %s\n", sink.c_str(),
                     error.c_str());
        return 1;
    }
    if (!recorder.WaitFlowing()) {
        std::fprintf(stderr, "sound_probe: the monitor delivers nothing\n");
        return 1;
    }
    const std::string first = dir + "/Audio/" + road.front();
    const int chosen = SdlAudioPlayer::kBufferFrames;
    std::printf("clips road=%zu number=%zu chosen=%d\n", road.size(), number.size(), chosen);
    const std::string series = getenv("PROBE_SERIES") ? getenv("PROBE_SERIES") : "";
    auto want = [&series](const std::string& name) {
        return series.empty() || ("," + series + ",").find("," + name + ",") != std::string::npos;
    };
    if (want("road"))
        Road(app, recorder, count, "warm", 300ms);
    if (want("cold"))
        Road(app, recorder, std::max(1, count / 2), "cold", 2500ms);
    if (want("player"))
        Player(recorder, first, count, chosen);
    if (want("reference"))
        Reference(recorder, first, count, chosen);
    if (want("joins")) {
        Joins(recorder, dir, number, joinAnnouncements, chosen, true);
        Joins(recorder, dir, number, std::max(1, joinAnnouncements / 2), chosen, false);
    }
    const std::string steady = dir + "/steady.wav";
    const double steadySeconds = 20;
    if ((want("steady") || want("buffers")) &&
        std::system(("sox -n -r 44100 -c 1 -b 16 -e signed-integer '" + steady + "' synth " +
                     std::to_string(steadySeconds) + " sine 1000 gain -6 2>/dev/null")
                        .c_str()) != 0) {
        std::fprintf(stderr, "sound_probe: sox could not make the long tone\n");
        return 1;
    }
    if (want("steady")) {
        Steady(recorder, steady, steadySeconds, chosen, false);
        Steady(recorder, steady, steadySeconds, chosen, true);
    }
    if (want("memory")) {
        std::string longClip = getenv("PROBE_LONG") ? getenv("PROBE_LONG") : "";
        if (longClip.empty()) {
            longClip = dir + "/long.mp3";
            if (std::system(("sox -n -r 44100 -c 1 -b 16 -t wav - synth 1200 sine 440 vol 0.5 | "
                             "lame --quiet -b 64 - '" +
                             longClip + "'")
                                .c_str()) != 0)
                longClip.clear();
        }
        if (!longClip.empty())
            Memory(longClip, chosen);
    }
    if (want("idle")) {
        const char* seconds = getenv("PROBE_IDLE_SECONDS");
        Idle(recorder, road, seconds ? std::max(1, std::atoi(seconds)) : 60);
    }
    // Other buffers: fewer rounds each, enough to see the trend.
    for (int frames : buffers) {
        if (frames == chosen || !want("buffers"))
            continue;
        Player(recorder, first, std::max(1, count / 2), frames);
        Reference(recorder, first, std::max(1, count / 2), frames);
        Joins(recorder, dir, number, std::max(1, joinAnnouncements / 2), frames, true);
        Steady(recorder, steady, steadySeconds, frames, false);
        Steady(recorder, steady, steadySeconds, frames, true);
    }
    recorder.Stop();
    RemoveBenchProgramDir();
    return 0;
}
