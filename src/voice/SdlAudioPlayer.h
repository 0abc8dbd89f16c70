#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "voice/AudioPlayer.h"

struct Mix_Chunk;

// The audio player on SDL2_mixer: one clip at a time on mixer channel 0.
//
// SDL_mixer reports a finished channel from its audio thread with the audio
// device locked, and also synchronously from inside a halt. Neither is a place
// where the program may take its own locks or call back into the mixer, so the
// hook only records the end and a thread of the player's own delivers it, with
// no lock held. Every Play, Stop, Open and Close starts a new generation; only
// the natural end of the generation being played is delivered.
//
// Only one player can exist at a time (SDL's audio device is process-wide).
// Its owner makes one call at a time, except SetVolume, which may come from
// another thread at any moment.
//
// A sound server that stops answering (stopped, hung) blocks SDL for ever
// while it opens or closes the device. Both therefore run on a thread of their
// own that the caller waits for only until a deadline: past it the caller goes
// on without the device (no player, or the device left to be reclaimed by the
// OS at exit), and a new player can be made once that thread is through.
class SdlAudioPlayer : public AudioPlayer {
public:
    // The device buffer in sample frames (at 44.1 kHz). It sets most of
    // the latency the player adds and the most silence a clip's end leaves
    // before the next clip; too small a buffer underruns. Chosen by measuring
    // both on PulseAudio (bench/results.md, section 4).
    static constexpr int kBufferFrames = 768;

    // nullptr when SDL has no usable audio device, when the server did not
    // answer within kOpenDeadline, or while another player holds the device or
    // is still closing it; `reason` then says why. `bufferFrames` is for the
    // benchmark's comparison.
    static std::unique_ptr<SdlAudioPlayer> Create(std::string* reason = nullptr,
                                                  int bufferFrames = kBufferFrames);
    // Decoded clips held by the player, open and opened ahead, over all players.
    static int ChunksHeld();
    ~SdlAudioPlayer() override;

    SdlAudioPlayer(const SdlAudioPlayer&) = delete;
    SdlAudioPlayer& operator=(const SdlAudioPlayer&) = delete;

    void SetEndCallback(EndCallback callback) override;
    void SetVolume(unsigned left, unsigned right) override;
    void Stop() override;
    bool Open(const std::string& path) override;
    bool OpenAhead(const std::string& path) override;
    void DropAhead() override;
    bool Play() override;
    std::string LastError() const override;
    void Close() override;
    bool DeviceLost() const override;

    // If the output device goes away SDL stops mixing and the clip would never
    // end; a clip still playing this long after its length is ended by force.
    static constexpr std::chrono::milliseconds kEndGrace{3000};
    // Opening takes some tens of milliseconds on a busy machine; a server
    // that has not answered in this time is taken for one that will not.
    static constexpr std::chrono::milliseconds kOpenDeadline{2000};
    // How long the destructor waits for SDL to let go of the device. SDL's
    // audio thread ends only at the server's next request for sound, which
    // for a device opened moments before can take 2 s (a null sink's first
    // block); a server that has not asked by then is taken for a frozen one.
    static constexpr std::chrono::milliseconds kCloseDeadline{2500};

private:
    SdlAudioPlayer() = default;
    static void OnChannelFinished(int channel);
    // SDL's side of the device, on the opening and closing threads.
    static bool OpenDevice(int bufferFrames, int& frequency, int& bytesPerFrame, std::string& why);
    static void ReleaseDevice(Mix_Chunk* chunk, Mix_Chunk* ahead);
    void ApplyVolume();
    void HaltChannel();
    void DeliverEnds();
    // Decodes a whole file; nullptr and `error` set when it is no audio.
    static Mix_Chunk* Load(const std::string& path, std::string& error);
    static void Free(Mix_Chunk* chunk);

    // Serialises stop, open, play, close and the forced end, so that a forced
    // end cannot halt a clip started meanwhile. Taken before SDL's audio lock,
    // which SDL's hook holds when it takes m_mutex: the order is always
    // m_operationMutex, SDL, m_mutex.
    std::mutex m_operationMutex;
    mutable std::mutex m_mutex;  // guards every member below; never held while calling SDL
    std::condition_variable m_wake;
    Mix_Chunk* m_chunk = nullptr;
    Mix_Chunk* m_ahead = nullptr;  // opened ahead; never the one playing
    std::string m_aheadPath;
    uint64_t m_generation = 0;
    bool m_playing = false;  // m_generation is playing and its end not yet delivered
    std::chrono::steady_clock::time_point m_deadline;
    std::deque<uint64_t> m_ended;  // generations SDL reported as finished
    bool m_quit = false;
    EndCallback m_callback;
    std::string m_lastError;
    unsigned m_left = 100;
    unsigned m_right = 100;
    int m_frequency = 0;
    int m_bytesPerFrame = 0;
    // SDL reported the device removed, or a clip had to be ended by force.
    mutable std::atomic<bool> m_deviceLost{false};
    std::thread m_thread;  // delivers ends; started last, joined first
};
