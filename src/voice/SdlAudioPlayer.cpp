#include "voice/SdlAudioPlayer.h"

#include <SDL2/SDL.h>
#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <optional>
#include <system_error>
#include <vector>

#include "app/AltSignalStack.h"
#include "app/LogHelper.h"
#include "voice/ClipStream.h"

namespace {
constexpr int kFrequency = 44100;
using Clock = std::chrono::steady_clock;

// SDL's audio device is open, being opened or still being closed: one player
// at a time, and none while a late open or close is still inside SDL.
std::atomic<bool> s_deviceInUse{false};
// Held by every thread while it opens or closes the device or SDL's audio,
// so that a release never meets an open or close still stuck in SDL.
std::mutex s_sdlMutex;

// Runs `work` on a thread named `name` and waits up to `deadline` for it;
// true when it finished in time (the thread is then joined). Past the
// deadline the thread is detached on purpose: it is stuck inside SDL waiting
// for a sound server that does not answer, and joining it would hang the
// caller, at shutdown the whole program. It runs `late` itself if `work` ever
// returns; if the program ends first, the OS ends it and reclaims the device.
bool RunWithDeadline(const char* name, std::chrono::milliseconds deadline,
                     std::function<void()> work, std::function<void()> late) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool abandoned = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread thread;
    try {
        thread = std::thread([name, shared, work, late] {
            const AltSignalStack signalStack;
            pthread_setname_np(pthread_self(), name);
            work();
            bool abandoned = false;
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->done = true;
                abandoned = shared->abandoned;
            }
            shared->finished.notify_all();
            if (abandoned && late) {
                late();
            }
            SDL_TLSCleanup();
        });
    } catch (const std::system_error&) {
        // No thread to be had: wait for SDL here rather than not at all.
        work();
        return true;
    }
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        done = shared->finished.wait_for(lock, deadline, [&] { return shared->done; });
        shared->abandoned = !done;
    }
    if (done) {
        thread.join();
    } else {
        thread.detach();
    }
    return done;
}
}  // namespace

// Where the open clip stands with respect to the owner.
enum class Handover {
    None,
    // The callback went on into the clip opened ahead when the one played
    // ended; the owner has not yet opened it.
    Carried,
    // The owner opened the carried clip; it sounds on, and its Play only
    // makes it the clip being played.
    Taken,
};

struct SdlAudioPlayer::State {
    mutable std::mutex mutex;  // guards everything below but the atomics
    std::condition_variable wake;
    std::unique_ptr<ClipStream> current;
    std::unique_ptr<ClipStream> ahead;
    std::string aheadPath;
    std::string carriedPath;
    Handover handover = Handover::None;
    // Clips the callback finished with, freed on the clip-end thread.
    std::vector<std::unique_ptr<ClipStream>> retired;
    bool sounding = false;  // the callback is pulling `current`
    bool heldEnd = false;   // a carried clip ended before its Play
    uint64_t generation = 0;
    bool playing = false;        // `generation` is playing and its end not yet delivered
    std::deque<uint64_t> ended;  // generations whose clip the callback saw end
    bool deviceOpen = false;
    std::optional<Clock::time_point> idleSince;  // the open device has nothing to play
    bool quit = false;
    EndCallback callback;
    std::string lastError;
    std::atomic<float> left{1.0f};
    std::atomic<float> right{1.0f};
    std::atomic<Clock::rep> lastPull{0};  // when the device last asked for sound

    State() { retired.reserve(4); }

    // The clip being played ended inside the buffer being filled.
    void ClipEnded() {
        if (handover != Handover::None) {
            // Not yet the owner's: its end waits for the Play that takes it.
            heldEnd = true;
            sounding = false;
            return;
        }
        ended.push_back(generation);
        if (!ahead) {
            sounding = false;
            return;
        }
        retired.push_back(std::move(current));
        current = std::move(ahead);
        carriedPath = std::move(aheadPath);
        aheadPath.clear();
        handover = Handover::Carried;
    }

    void Fill(float* out, int frames) {
        lastPull = Clock::now().time_since_epoch().count();
        int written = 0;
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            while (written < frames && sounding && current) {
                written += current->Pull(out + written * ClipStream::kChannels, frames - written);
                if (written < frames) {
                    ClipEnded();
                    changed = true;
                }
            }
        }
        const float l = left.load();
        const float r = right.load();
        for (int i = 0; i < written; ++i) {
            out[2 * i] *= l;
            out[2 * i + 1] *= r;
        }
        std::fill(out + written * ClipStream::kChannels, out + frames * ClipStream::kChannels,
                  0.0f);
        if (changed) {
            wake.notify_all();
        }
    }

    // A carried clip the owner did not take: back to being the clip opened
    // ahead, and the clip that ended before it the open one again.
    void Uncarry() {
        if (handover != Handover::Carried) {
            return;
        }
        if (current && current->Rewind()) {
            ahead = std::move(current);
            aheadPath = carriedPath;
        }
        current.reset();
        if (!retired.empty()) {
            current = std::move(retired.back());
            retired.pop_back();
        }
        carriedPath.clear();
        handover = Handover::None;
        heldEnd = false;
    }

    // Awaiting its owner after the end of the clip before was delivered:
    // the owner's Stop and Close before its next clip leave it sounding.
    bool AwaitingTakeOver() const { return handover == Handover::Carried && !playing; }
};

namespace {
void OnAudio(void* userdata, Uint8* stream, int bytes) {
    static_cast<SdlAudioPlayer::State*>(userdata)->Fill(
        reinterpret_cast<float*>(stream),
        bytes / static_cast<int>(sizeof(float) * ClipStream::kChannels));
}

// Opened paused: SDL calls back only once unpaused.
SDL_AudioDeviceID OpenOutput(int bufferFrames, SdlAudioPlayer::State* state, std::string& why) {
    SDL_AudioSpec wanted = {};
    wanted.freq = kFrequency;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = ClipStream::kChannels;
    wanted.samples = static_cast<Uint16>(bufferFrames);
    wanted.callback = &OnAudio;
    wanted.userdata = state;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to what the server takes.
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        why = SDL_GetError();
    }
    return device;
}
}  // namespace

SdlAudioPlayer::SdlAudioPlayer(int bufferFrames)
    : m_state(std::make_shared<State>()), m_bufferFrames(bufferFrames) {}

std::unique_ptr<SdlAudioPlayer> SdlAudioPlayer::Create(std::string* reason, int bufferFrames) {
    auto fail = [reason](const std::string& why) {
        if (reason != nullptr) {
            *reason = why;
        }
        return nullptr;
    };
    bool inUse = false;
    if (!s_deviceInUse.compare_exchange_strong(inUse, true)) {
        return fail("the audio device is held by another player or still closing");
    }
    std::unique_ptr<SdlAudioPlayer> player(new SdlAudioPlayer(bufferFrames));
    struct Opened {
        SDL_AudioDeviceID device = 0;
        std::string why;
    };
    // Shared with the opening thread, which may outlive this call.
    auto opened = std::make_shared<Opened>();
    const bool inTime = RunWithDeadline(
        "voice-sdl-open", kOpenDeadline,
        [opened, bufferFrames, state = player->m_state] {
            std::lock_guard<std::mutex> sdl(s_sdlMutex);
            // With an event queue, SDL says when the device goes away (its
            // server died). SIGINT and SIGTERM stay the program's.
            SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
            if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
                opened->why = SDL_GetError();
            } else {
                opened->device = OpenOutput(bufferFrames, state.get(), opened->why);
                if (opened->device == 0) {
                    SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
                }
            }
            if (opened->device == 0) {
                s_deviceInUse = false;
            }
        },
        [opened] {
            // Nobody waits for this device any more; it never played.
            if (opened->device != 0) {
                std::lock_guard<std::mutex> sdl(s_sdlMutex);
                SDL_CloseAudioDevice(opened->device);
                SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
                s_deviceInUse = false;
            }
        });
    if (!inTime) {
        return fail("the sound server did not answer within " +
                    std::to_string(kOpenDeadline.count()) + " ms");
    }
    if (opened->device == 0) {
        return fail(opened->why);
    }
    player->m_subsystem = true;
    player->m_device = opened->device;
    {
        std::lock_guard<std::mutex> lock(player->m_state->mutex);
        player->m_state->deviceOpen = true;
        player->m_state->idleSince = Clock::now();
    }
    player->m_thread = std::thread([p = player.get()] { p->DeliverEnds(); });
    return player;
}

SdlAudioPlayer::~SdlAudioPlayer() {
    if (!m_subsystem) {
        return;  // never opened: Create gave up on it
    }
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->quit = true;
        m_state->callback = nullptr;
    }
    m_state->wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::lock_guard<std::mutex> operation(m_operationMutex);
    std::unique_ptr<ClipStream> current;
    std::unique_ptr<ClipStream> ahead;
    std::vector<std::unique_ptr<ClipStream>> retired;
    {
        // The callback touches no clip once they are out of its reach.
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->sounding = false;
        current = std::move(m_state->current);
        ahead = std::move(m_state->ahead);
        retired = std::move(m_state->retired);
    }
    current.reset();
    ahead.reset();
    retired.clear();
    const SDL_AudioDeviceID device = m_device;
    m_device = 0;
    const bool closed = RunWithDeadline(
        "voice-sdl-close", kCloseDeadline,
        [device, state = m_state] {
            std::lock_guard<std::mutex> sdl(s_sdlMutex);
            if (device != 0) {
                SDL_CloseAudioDevice(device);
            }
            SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
            s_deviceInUse = false;
        },
        nullptr);
    if (!closed) {
        LogHelper::GetInstance()->Error(
            "SdlAudioPlayer 关闭音频设备超时（声音服务器无响应），交由系统回收。");
    }
}

int SdlAudioPlayer::DecodersHeld() {
    return ClipStream::Held();
}

bool SdlAudioPlayer::OpenDevice(std::string& why) {
    struct Opened {
        SDL_AudioDeviceID device = 0;
        std::string why;
    };
    auto opened = std::make_shared<Opened>();
    const bool inTime = RunWithDeadline(
        "voice-sdl-open", kOpenDeadline,
        [opened, frames = m_bufferFrames, state = m_state] {
            std::lock_guard<std::mutex> sdl(s_sdlMutex);
            opened->device = OpenOutput(frames, state.get(), opened->why);
        },
        [opened, state = m_state] {
            if (opened->device != 0) {
                std::lock_guard<std::mutex> sdl(s_sdlMutex);
                SDL_CloseAudioDevice(opened->device);
            }
        });
    if (!inTime) {
        why = "the sound server did not answer within " + std::to_string(kOpenDeadline.count()) +
              " ms";
        return false;
    }
    if (opened->device == 0) {
        why = opened->why;
        return false;
    }
    m_device = opened->device;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->deviceOpen = true;
    return true;
}

void SdlAudioPlayer::CloseIdleDevice() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->sounding || !m_state->deviceOpen || m_device == 0) {
            return;  // a Play came first
        }
        m_state->deviceOpen = false;
        m_state->idleSince.reset();
    }
    const SDL_AudioDeviceID device = m_device;
    m_device = 0;
    // The state stays with the closing thread: SDL may call back until it is through.
    const bool closed = RunWithDeadline(
        "voice-sdl-close", kCloseDeadline,
        [device, state = m_state] {
            std::lock_guard<std::mutex> sdl(s_sdlMutex);
            SDL_CloseAudioDevice(device);
        },
        nullptr);
    if (!closed) {
        // The server froze; the next Play would wait for it in vain.
        m_deviceLost = true;
    }
}

bool SdlAudioPlayer::DeviceLost() const {
    if (m_deviceLost.load()) {
        return true;
    }
    // Nothing else reads SDL's queue; devices being added are of no interest.
    SDL_FlushEvent(SDL_AUDIODEVICEADDED);
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_AUDIODEVICEREMOVED, SDL_AUDIODEVICEREMOVED) >
           0) {
        if (event.adevice.iscapture == 0) {
            m_deviceLost = true;
        }
    }
    return m_deviceLost.load();
}

void SdlAudioPlayer::DeliverEnds() {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-clip-end");
    State& s = *m_state;
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.quit) {
        if (!s.retired.empty()) {
            // File work kept off the device's callback.
            auto retired = std::move(s.retired);
            s.retired.clear();
            s.retired.reserve(4);
            lock.unlock();
            retired.clear();
            lock.lock();
            continue;
        }
        const auto now = Clock::now();
        if (!s.ended.empty()) {
            const uint64_t generation = s.ended.front();
            s.ended.pop_front();
            if (s.playing && generation == s.generation) {
                s.playing = false;
                EndCallback callback = s.callback;
                lock.unlock();
                if (callback) {
                    callback();
                }
                lock.lock();
            }
            continue;
        }
        const auto pulled = Clock::time_point(Clock::duration(s.lastPull.load()));
        if (s.playing && s.sounding && now >= pulled + kEndGrace) {
            // The device stopped asking for sound (its server went away): end
            // the clip so the sequence goes on instead of waiting for ever.
            lock.unlock();
            m_deviceLost = true;
            LogHelper::GetInstance()->Error("SdlAudioPlayer 播放超时，音频设备可能已断开: " +
                                            std::string(SDL_GetCurrentAudioDriver() != nullptr
                                                            ? SDL_GetCurrentAudioDriver()
                                                            : ""));
            {
                std::lock_guard<std::mutex> operation(m_operationMutex);
                std::lock_guard<std::mutex> check(s.mutex);
                const auto last = Clock::time_point(Clock::duration(s.lastPull.load()));
                if (s.playing && s.sounding && Clock::now() >= last + kEndGrace) {
                    s.sounding = false;
                    s.ended.push_back(s.generation);
                }
            }
            lock.lock();
            continue;
        }
        if (!s.sounding && s.deviceOpen) {
            if (!s.idleSince) {
                s.idleSince = now;
            }
            if (now >= *s.idleSince + kIdleClose) {
                lock.unlock();
                CloseIdleDevice();
                lock.lock();
                continue;
            }
            s.wake.wait_until(lock, *s.idleSince + kIdleClose);
        } else if (s.playing && s.sounding) {
            s.wake.wait_until(lock, pulled + kEndGrace);
        } else {
            s.wake.wait(lock);
        }
    }
    lock.unlock();
    // SDL keeps its error text per thread, even for threads it did not start.
    SDL_TLSCleanup();
}

void SdlAudioPlayer::SetEndCallback(EndCallback callback) {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->callback = std::move(callback);
}

void SdlAudioPlayer::SetVolume(unsigned left, unsigned right) {
    // Read by the callback at its next buffer, mid-clip as well.
    m_state->left = static_cast<float>(std::min(left, 100u)) / 100.0f;
    m_state->right = static_cast<float>(std::min(right, 100u)) / 100.0f;
}

void SdlAudioPlayer::Halt() {
    State& s = *m_state;
    s.Uncarry();
    s.sounding = false;
    s.handover = Handover::None;
    s.heldEnd = false;
    ++s.generation;
    s.playing = false;
}

void SdlAudioPlayer::Stop() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->AwaitingTakeOver()) {
            Halt();
        }
    }
    m_state->wake.notify_all();
}

bool SdlAudioPlayer::Open(const std::string& path) {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    State& s = *m_state;
    std::unique_ptr<ClipStream> clip;
    std::unique_ptr<ClipStream> stale;  // opened ahead or carried, for another path
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.AwaitingTakeOver() && s.carriedPath == path) {
            // Already sounding from the sample where the clip before ended.
            s.handover = Handover::Taken;
            s.carriedPath.clear();
            ++s.generation;
            s.playing = false;
            return true;
        }
        Halt();
        if (s.ahead && s.aheadPath == path) {
            clip = std::move(s.ahead);
            if (clip->Started() && !clip->Rewind()) {
                clip.reset();
            }
        } else {
            stale = std::move(s.ahead);
        }
        s.aheadPath.clear();
    }
    stale.reset();
    std::string error;
    if (!clip) {
        clip = ClipStream::Open(path, kFrequency, error);
    }
    const bool opened = clip != nullptr;
    std::unique_ptr<ClipStream> old;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        old = std::move(s.current);
        s.current = std::move(clip);
        if (!opened) {
            s.lastError = error.empty() ? "cannot open " + path : error;
        }
    }
    old.reset();
    s.wake.notify_all();
    return opened;
}

bool SdlAudioPlayer::OpenAhead(const std::string& path) {
    DropAhead();
    std::string error;
    std::unique_ptr<ClipStream> clip = ClipStream::Open(path, kFrequency, error);
    if (!clip) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->ahead = std::move(clip);
    m_state->aheadPath = path;
    return true;
}

void SdlAudioPlayer::DropAhead() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    State& s = *m_state;
    std::unique_ptr<ClipStream> ahead;
    std::unique_ptr<ClipStream> carried;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.handover == Handover::Carried) {
            // The carried clip is still the one opened ahead: it goes too,
            // and the clip that ended before it is the open one again.
            s.sounding = false;
            carried = std::move(s.current);
            if (!s.retired.empty()) {
                s.current = std::move(s.retired.back());
                s.retired.pop_back();
            }
            s.carriedPath.clear();
            s.handover = Handover::None;
            s.heldEnd = false;
        }
        ahead = std::move(s.ahead);
        s.aheadPath.clear();
    }
    s.wake.notify_all();
}

bool SdlAudioPlayer::Play() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    State& s = *m_state;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.handover == Handover::Taken) {
            s.handover = Handover::None;
            s.playing = true;
            if (s.heldEnd) {
                s.heldEnd = false;
                s.ended.push_back(s.generation);
            }
            s.wake.notify_all();
            return true;
        }
        Halt();
        if (!s.current) {
            s.lastError = "no file open";
            return false;
        }
        if (s.current->Started() && !s.current->Rewind()) {
            s.lastError = "cannot read the clip again";
            return false;
        }
        s.lastPull = Clock::now().time_since_epoch().count();
        s.idleSince.reset();
        // Set before the start: a very short clip may end before this returns.
        s.playing = true;
        s.sounding = true;
    }
    std::string why;
    if (m_device == 0 && !OpenDevice(why)) {
        m_deviceLost = true;
        std::lock_guard<std::mutex> lock(s.mutex);
        Halt();
        s.lastError = why;
        return false;
    }
    SDL_PauseAudioDevice(m_device, 0);
    s.wake.notify_all();
    return true;
}

std::string SdlAudioPlayer::LastError() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->lastError;
}

void SdlAudioPlayer::Close() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    std::unique_ptr<ClipStream> old;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->AwaitingTakeOver()) {
            return;
        }
        Halt();
        old = std::move(m_state->current);
    }
    m_state->wake.notify_all();
}
