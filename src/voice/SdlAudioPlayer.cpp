#include "voice/SdlAudioPlayer.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <system_error>

#include "app/AltSignalStack.h"
#include "app/LogHelper.h"

namespace {
constexpr int kChannel = 0;
constexpr int kFrequency = 44100;

std::atomic<int> s_chunksHeld{0};

// SDL's hooks carry no user value; s_active is the one player that exists.
// A player going away takes itself out under s_hookMutex, so no end reported
// afterwards can reach it, even when SDL could not be made to let go of the
// device. Order: SDL's audio lock, s_hookMutex, the player's m_mutex.
std::mutex s_hookMutex;
SdlAudioPlayer* s_active = nullptr;  // guarded by s_hookMutex

// SDL's audio device is open, being opened or still being closed: one player
// at a time, and none while a late open or close is still inside SDL.
std::atomic<bool> s_deviceInUse{false};

// True while this thread is inside one of the player's own SDL calls: a
// finished channel reported from there is a halt, never a natural end.
thread_local bool t_insideCall = false;

class InsideCall {
public:
    InsideCall() : m_outer(t_insideCall) { t_insideCall = true; }
    ~InsideCall() { t_insideCall = m_outer; }
    InsideCall(const InsideCall&) = delete;
    InsideCall& operator=(const InsideCall&) = delete;

private:
    bool m_outer;
};

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

bool SdlAudioPlayer::OpenDevice(int bufferFrames, int& frequency, int& bytesPerFrame,
                                std::string& why) {
    InsideCall inside;
    // With an event queue, SDL says when the device goes away (its server
    // died); without one it goes on mixing into nothing, and every clip seems
    // to end as if it had been heard. SIGINT and SIGTERM stay the program's.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
        why = SDL_GetError();
        return false;
    }
    // mp3 may be built in, so a refusal here is not fatal; Open reports what fails.
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(kFrequency, AUDIO_S16SYS, 2, bufferFrames) != 0) {
        why = Mix_GetError();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
        return false;
    }
    Mix_AllocateChannels(1);
    int channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&frequency, &format, &channels);
    if (frequency <= 0) {
        frequency = kFrequency;
    }
    bytesPerFrame = std::max(1, channels * static_cast<int>(SDL_AUDIO_BITSIZE(format)) / 8);
    return true;
}

void SdlAudioPlayer::ReleaseDevice(Mix_Chunk* chunk, Mix_Chunk* ahead) {
    InsideCall inside;
    Mix_ChannelFinished(nullptr);
    Mix_HaltChannel(kChannel);
    Free(chunk);
    Free(ahead);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
}

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
    struct Opened {
        bool ok = false;
        int frequency = 0;
        int bytesPerFrame = 0;
        std::string why;
    };
    // Shared with the opening thread, which may outlive this call.
    auto opened = std::make_shared<Opened>();
    const bool inTime = RunWithDeadline(
        "voice-sdl-open", kOpenDeadline,
        [opened, bufferFrames] {
            opened->ok =
                OpenDevice(bufferFrames, opened->frequency, opened->bytesPerFrame, opened->why);
            if (!opened->ok) {
                s_deviceInUse = false;
            }
        },
        [opened] {
            // Nobody waits for this device any more.
            if (opened->ok) {
                ReleaseDevice(nullptr, nullptr);
                s_deviceInUse = false;
            }
        });
    if (!inTime) {
        return fail("the sound server did not answer within " +
                    std::to_string(kOpenDeadline.count()) + " ms");
    }
    if (!opened->ok) {
        return fail(opened->why);
    }
    std::unique_ptr<SdlAudioPlayer> player(new SdlAudioPlayer());
    player->m_frequency = opened->frequency;
    player->m_bytesPerFrame = opened->bytesPerFrame;
    {
        std::lock_guard<std::mutex> lock(s_hookMutex);
        s_active = player.get();
    }
    {
        InsideCall inside;
        Mix_ChannelFinished(&SdlAudioPlayer::OnChannelFinished);
    }
    player->m_thread = std::thread([p = player.get()] { p->DeliverEnds(); });
    return player;
}

SdlAudioPlayer::~SdlAudioPlayer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_callback = nullptr;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
    {
        std::lock_guard<std::mutex> lock(s_hookMutex);
        s_active = nullptr;
    }
    Mix_Chunk* chunk = m_chunk;
    m_chunk = nullptr;
    Mix_Chunk* ahead = m_ahead;
    m_ahead = nullptr;
    const bool closed = RunWithDeadline(
        "voice-sdl-close", kCloseDeadline,
        [chunk, ahead] {
            ReleaseDevice(chunk, ahead);
            s_deviceInUse = false;
        },
        nullptr);
    if (!closed) {
        LogHelper::GetInstance()->Error(
            "SdlAudioPlayer 关闭音频设备超时（声音服务器无响应），交由系统回收。");
    }
}

int SdlAudioPlayer::ChunksHeld() {
    return s_chunksHeld.load();
}

Mix_Chunk* SdlAudioPlayer::Load(const std::string& path, std::string& error) {
    InsideCall inside;
    // Decoded whole at open, so a file that is no audio fails here and not
    // half-way through an announcement. The loader detects wav and mp3.
    SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
    Mix_Chunk* chunk = file != nullptr ? Mix_LoadWAV_RW(file, 1) : nullptr;
    if (chunk == nullptr) {
        error = Mix_GetError();
        return nullptr;
    }
    if (chunk->alen == 0) {
        Mix_FreeChunk(chunk);
        error = "no audio in file";
        return nullptr;
    }
    ++s_chunksHeld;
    return chunk;
}

void SdlAudioPlayer::Free(Mix_Chunk* chunk) {
    if (chunk == nullptr) {
        return;
    }
    InsideCall inside;
    Mix_FreeChunk(chunk);
    --s_chunksHeld;
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

void SdlAudioPlayer::OnChannelFinished(int /*channel*/) {
    // Runs on SDL's audio thread with the device locked, or inside our own halt.
    if (t_insideCall) {
        return;
    }
    std::lock_guard<std::mutex> hook(s_hookMutex);
    SdlAudioPlayer* player = s_active;
    if (player == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(player->m_mutex);
        player->m_ended.push_back(player->m_generation);
    }
    player->m_wake.notify_all();
}

void SdlAudioPlayer::DeliverEnds() {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-clip-end");
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        bool ended = false;
        if (!m_ended.empty()) {
            const uint64_t generation = m_ended.front();
            m_ended.pop_front();
            ended = m_playing && generation == m_generation;
        } else if (m_playing && std::chrono::steady_clock::now() >= m_deadline) {
            // The device stopped mixing (its server went away): end the clip
            // so the sequence goes on instead of waiting for ever.
            const uint64_t generation = m_generation;
            lock.unlock();
            m_deviceLost = true;
            LogHelper::GetInstance()->Error("SdlAudioPlayer 播放超时，音频设备可能已断开: " +
                                            std::string(SDL_GetCurrentAudioDriver() != nullptr
                                                            ? SDL_GetCurrentAudioDriver()
                                                            : ""));
            {
                // Halted only if the owner has not moved on to another clip meanwhile.
                std::lock_guard<std::mutex> operation(m_operationMutex);
                bool still = false;
                {
                    std::lock_guard<std::mutex> check(m_mutex);
                    still = m_playing && generation == m_generation;
                }
                if (still) {
                    HaltChannel();
                }
            }
            lock.lock();
            ended = m_playing && generation == m_generation;
        } else if (m_playing) {
            m_wake.wait_until(lock, m_deadline);
            continue;
        } else {
            m_wake.wait(lock);
            continue;
        }
        if (ended) {
            m_playing = false;
            EndCallback callback = m_callback;
            lock.unlock();
            if (callback) {
                callback();
            }
            lock.lock();
        }
    }
    lock.unlock();
    // SDL keeps its error text per thread, even for threads it did not start.
    SDL_TLSCleanup();
}

void SdlAudioPlayer::SetEndCallback(EndCallback callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callback = std::move(callback);
}

void SdlAudioPlayer::SetVolume(unsigned left, unsigned right) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_left = std::min(left, 100u);
        m_right = std::min(right, 100u);
    }
    ApplyVolume();
}

void SdlAudioPlayer::ApplyVolume() {
    unsigned left = 0;
    unsigned right = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        left = m_left;
        right = m_right;
    }
    const unsigned loudest = std::max(left, right);
    InsideCall inside;
    Mix_Volume(kChannel, static_cast<int>((loudest * MIX_MAX_VOLUME + 50) / 100));
    // The balance is an effect that SDL drops whenever a clip ends, so it is
    // applied again after every start; equal sides need none.
    if (loudest > 0 && left != right) {
        Mix_SetPanning(kChannel, static_cast<Uint8>(left * 255 / loudest),
                       static_cast<Uint8>(right * 255 / loudest));
    } else {
        Mix_SetPanning(kChannel, 255, 255);
    }
}

void SdlAudioPlayer::HaltChannel() {
    InsideCall inside;
    Mix_HaltChannel(kChannel);
}

void SdlAudioPlayer::Stop() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    HaltChannel();
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_playing = false;
}

bool SdlAudioPlayer::Open(const std::string& path) {
    Mix_Chunk* chunk = nullptr;
    Mix_Chunk* stale = nullptr;  // opened ahead for another path
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ahead != nullptr && m_aheadPath == path) {
            chunk = m_ahead;
        } else {
            stale = m_ahead;
        }
        m_ahead = nullptr;
        m_aheadPath.clear();
    }
    Free(stale);
    std::string error;
    if (chunk == nullptr) {
        chunk = Load(path, error);
    }
    std::lock_guard<std::mutex> operation(m_operationMutex);
    HaltChannel();
    Mix_Chunk* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_playing = false;
        old = m_chunk;
        m_chunk = chunk;
        if (chunk == nullptr) {
            m_lastError = error.empty() ? "cannot open " + path : error;
        }
    }
    Free(old);
    return chunk != nullptr;
}

bool SdlAudioPlayer::OpenAhead(const std::string& path) {
    DropAhead();
    std::string error;
    Mix_Chunk* chunk = Load(path, error);
    if (chunk == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ahead = chunk;
    m_aheadPath = path;
    return true;
}

void SdlAudioPlayer::DropAhead() {
    Mix_Chunk* ahead = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ahead = m_ahead;
        m_ahead = nullptr;
        m_aheadPath.clear();
    }
    Free(ahead);
}

bool SdlAudioPlayer::Play() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    HaltChannel();
    Mix_Chunk* chunk = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_playing = false;
        chunk = m_chunk;
        if (chunk == nullptr) {
            m_lastError = "no file open";
            return false;
        }
        const auto frames = chunk->alen / static_cast<Uint32>(m_bytesPerFrame);
        m_deadline = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(uint64_t{frames} * 1000 / m_frequency) + kEndGrace;
        // Set before the start: a very short clip may end before PlayChannel returns.
        m_playing = true;
    }
    m_wake.notify_all();
    int started = -1;
    std::string error;
    {
        InsideCall inside;
        started = Mix_PlayChannel(kChannel, chunk, 0);
        if (started < 0) {
            error = Mix_GetError();
        }
    }
    if (started < 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_playing = false;
        m_lastError = error;
        return false;
    }
    ApplyVolume();
    return true;
}

std::string SdlAudioPlayer::LastError() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

void SdlAudioPlayer::Close() {
    std::lock_guard<std::mutex> operation(m_operationMutex);
    HaltChannel();
    Mix_Chunk* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_playing = false;
        old = m_chunk;
        m_chunk = nullptr;
    }
    Free(old);
}
