#include "voice/SdlAudioPlayer.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>

#include "app/LogHelper.h"

namespace {
constexpr int kChannel = 0;
constexpr int kFrequency = 44100;
constexpr int kChunkFrames = 2048;

// SDL's hooks carry no user value; this is the one player that exists.
std::atomic<SdlAudioPlayer*> s_active{nullptr};

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
}  // namespace

std::unique_ptr<SdlAudioPlayer> SdlAudioPlayer::Create(std::string* reason) {
    auto fail = [reason](const std::string& why) {
        if (reason != nullptr) {
            *reason = why;
        }
        return nullptr;
    };
    std::unique_ptr<SdlAudioPlayer> player(new SdlAudioPlayer());
    SdlAudioPlayer* none = nullptr;
    if (!s_active.compare_exchange_strong(none, player.get())) {
        return fail("an audio player is already open");
    }
    InsideCall inside;
    // With an event queue, SDL says when the device goes away (its server
    // died); without one it goes on mixing into nothing, and every clip seems
    // to end as if it had been heard. SIGINT and SIGTERM stay the program's.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
        const std::string why = SDL_GetError();
        s_active = nullptr;
        return fail(why);
    }
    // mp3 may be built in, so a refusal here is not fatal; Open reports what fails.
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(kFrequency, AUDIO_S16SYS, 2, kChunkFrames) != 0) {
        const std::string why = Mix_GetError();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
        s_active = nullptr;
        return fail(why);
    }
    Mix_AllocateChannels(1);
    int frequency = 0;
    int channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&frequency, &format, &channels);
    player->m_frequency = frequency > 0 ? frequency : kFrequency;
    player->m_bytesPerFrame =
        std::max(1, channels * static_cast<int>(SDL_AUDIO_BITSIZE(format)) / 8);
    Mix_ChannelFinished(&SdlAudioPlayer::OnChannelFinished);
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
    if (s_active.load() != this) {
        return;  // Create failed before the device was opened
    }
    {
        InsideCall inside;
        Mix_ChannelFinished(nullptr);
        Mix_HaltChannel(kChannel);
        Mix_FreeChunk(m_chunk);
        m_chunk = nullptr;
        Mix_CloseAudio();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
    }
    s_active = nullptr;
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
    SdlAudioPlayer* player = s_active.load();
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
    std::string error;
    {
        InsideCall inside;
        // Decoded whole at open, so a file that is no audio fails here and not
        // half-way through an announcement. The loader detects wav and mp3.
        SDL_RWops* file = SDL_RWFromFile(path.c_str(), "rb");
        chunk = file != nullptr ? Mix_LoadWAV_RW(file, 1) : nullptr;
        if (chunk == nullptr) {
            error = Mix_GetError();
        } else if (chunk->alen == 0) {
            Mix_FreeChunk(chunk);
            chunk = nullptr;
            error = "no audio in file";
        }
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
    InsideCall inside;
    Mix_FreeChunk(old);
    return chunk != nullptr;
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
    InsideCall inside;
    Mix_FreeChunk(old);
}
