// Message to sound: how long from sending "12,101" on a cashier connection to
// the first non-silent sample on the audio server's null sink monitor.
//
// One process holds everything, so one clock measures it all: the voice side's
// own road (SocketHelper, MessageReader, composer, PlayHelper, PlayThread and
// the SDL player) on a Qt event loop, a cashier thread that sends the message
// from idle, and a recorder thread reading the monitor through libpulse. A
// second series opens and plays the first clip with the player directly, which
// splits the time into the play thread's poll, opening the clip and the device.
//
//   sound_probe SINK COUNT      (PULSE_SERVER names the audio server; PROBE_SHIELD=0
//                                turns the shield switch off; the clips
//                                are short tones made with sox in a temporary folder)
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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchProgramDir.h"
#include "app/VoiceServices.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "voice/AnnouncementComposer.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"
#include "voice/SdlAudioPlayer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000;
constexpr int kChunk = kRate / 200;  // 5 ms of mono samples per read
constexpr int kLoud = 1000;          // a sample above this is sound

// Reads the monitor and notes when sound starts after each arming.
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
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_chunks.load() >= 40;
    }

    // Waits until the monitor has been silent for `quiet`.
    void WaitSilence(std::chrono::milliseconds quiet) {
        for (int i = 0; i < 2000; ++i) {
            if (Clock::now() - m_lastLoud.load() >= quiet)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
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
            for (int i = 0; i < kChunk; ++i) {
                if (std::abs(static_cast<int>(buf[static_cast<size_t>(i)])) < kLoud)
                    continue;
                // The chunk ends now; the sample lies (kChunk - i) samples earlier.
                const auto at = readAt - std::chrono::microseconds(
                                             static_cast<int64_t>(kChunk - i) * 1000000 / kRate);
                m_lastLoud = readAt;
                std::lock_guard<std::mutex> lock(m_mutex);
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
};

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sound_probe SINK COUNT\n");
        return 2;
    }
    const std::string sink = argv[1];
    const int count = std::max(1, std::atoi(argv[2]));
    const std::string dir = UseBenchProgramDir(
        std::string("[WebSetting]\nUrl=http://127.0.0.1:1\nTimeOut=1\ndebug=0\nshield=") +
        (getenv("PROBE_SHIELD") ? getenv("PROBE_SHIELD") : "1") + "\n");

    // Learn the clips of 12,101 and give each a short tone, so that the first
    // sample of the first clip is already sound.
    Announcement clips;
    {
        AnnouncementComposer learn([&](const Announcement& a) { clips = a; });
        learn.ComposeCommaMessage("12", "101");
    }
    if (clips.empty()) {
        std::fprintf(stderr, "sound_probe: 12,101 composes nothing\n");
        return 1;
    }
    for (const std::string& clip : clips) {
        const std::string cmd = "sox -n -r 44100 -c 1 '" + dir + "/Audio/" + clip +
                                "' synth 0.12 sine 440 gain -6 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "sound_probe: sox could not make %s\n", clip.c_str());
            return 1;
        }
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
    PlayHelper* play = PlayHelper::GetInstance();
    // Queues with PlayHelper, as the program does.
    AnnouncementComposer composer(VoiceServices::QueueForPlay);
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
        return 1;
    }
    PlayThread playThread;
    playThread.Start();

    Stats road, openMs, deviceMs;
    int missed = 0;
    std::thread cashier([&] {
        const int fd = Connect(port);
        for (int i = 0; fd >= 0 && i < count; ++i) {
            recorder.WaitSilence(std::chrono::milliseconds(300));
            // Start from idle at a random point of the play thread's 100 ms poll.
            std::this_thread::sleep_for(std::chrono::milliseconds(rand() % 100));
            const auto t0 = Clock::now();
            recorder.Arm(t0);
            if (send(fd, "12,101", 6, MSG_NOSIGNAL) != 6)
                break;
            char ok[2];
            recv(fd, ok, 2, MSG_WAITALL);
            Clock::time_point heard;
            if (recorder.WaitSound(std::chrono::milliseconds(3000), heard)) {
                road.v.push_back(Ms(heard - t0));
                std::fprintf(stderr, "announcement %d: %.1f ms\n", i + 1, road.v.back());
            } else {
                ++missed;
            }
        }
        if (fd >= 0)
            close(fd);
        recorder.WaitSilence(std::chrono::milliseconds(300));
        QMetaObject::invokeMethod(&app, "quit", Qt::QueuedConnection);
    });
    app.exec();
    cashier.join();
    playThread.Stop();
    SocketHelper::Destroy();
    PlayHelper::Destroy();

    // The same first clip straight through the player: no queue, no poll.
    auto player = SdlAudioPlayer::Create(&error);
    const std::string first = dir + "/Audio/" + clips.front();
    for (int i = 0; player && i < count; ++i) {
        recorder.WaitSilence(std::chrono::milliseconds(300));
        const auto t0 = Clock::now();
        recorder.Arm(t0);
        if (!player->Open(first))
            break;
        const auto opened = Clock::now();
        if (!player->Play())
            break;
        const auto started = Clock::now();
        Clock::time_point heard;
        if (recorder.WaitSound(std::chrono::milliseconds(3000), heard)) {
            std::fprintf(stderr, "player %d: open %.2f ms, device %.1f ms\n", i + 1,
                         Ms(opened - t0), Ms(heard - started));
            openMs.v.push_back(Ms(opened - t0));
            deviceMs.v.push_back(Ms(heard - started));
        }
        recorder.WaitSilence(std::chrono::milliseconds(200));
        player->Stop();
        player->Close();
    }
    player.reset();
    recorder.Stop();
    RemoveBenchProgramDir();

    std::printf(
        "announcements=%zu missed=%d road_p50_ms=%.1f road_p99_ms=%.1f road_max_ms=%.1f "
        "open_p50_ms=%.2f device_p50_ms=%.1f device_p99_ms=%.1f clips=%zu\n",
        road.v.size(), missed, road.Pct(0.5), road.Pct(0.99), road.Pct(1.0), openMs.Pct(0.5),
        deviceMs.Pct(0.5), deviceMs.Pct(0.99), clips.size());
    return missed == 0 && !road.v.empty() ? 0 : 1;
}
