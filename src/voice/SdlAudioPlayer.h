#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "voice/AudioPlayer.h"

// The audio player on SDL2's audio device: the device's callback pulls the
// clip being played a piece at a time (ClipStream), applies the volume and,
// where the clip's data ends inside a buffer, goes on in that same buffer
// with the clip opened ahead, so the clips of a run join without silence
// (SDL_mixer started the next clip only with its next buffer: 8.8 ms p50 of
// silence per join, bench/results.md section 4).
//
// The callback only records an end; a thread of the player's own delivers
// it, with no lock held, and only the natural end of the clip being played
// (every Stop, Open, Play and Close starts a new generation). A clip the
// callback carried on into is held for the owner's Open of its path, which
// takes it over where it is (see AudioPlayer.h).
//
// The device runs only while there is something to play, and for
// kIdleClose after: then it is closed (SDL2 keeps a paused device running,
// writing silence to the server), and the next Play opens it again.
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
    // The device buffer in sample frames (at 44.1 kHz). It sets most of the
    // latency the player adds; too small a buffer underruns. Chosen by
    // measuring on PulseAudio (bench/results.md, section 4).
    static constexpr int kBufferFrames = 768;

    // nullptr when SDL has no usable audio device, when the server did not
    // answer within kOpenDeadline, or while another player holds the device or
    // is still closing it; `reason` then says why. `bufferFrames` is for the
    // benchmark's comparison.
    static std::unique_ptr<SdlAudioPlayer> Create(std::string* reason = nullptr,
                                                  int bufferFrames = kBufferFrames);
    // Clips held open (each an open decoder, never a decoded clip), the open
    // one and the one opened ahead, over all players.
    static int DecodersHeld();
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

    // If the output device goes away SDL stops asking for sound and the clip
    // would never end; a clip that has been asked for nothing this long is
    // ended by force.
    static constexpr std::chrono::milliseconds kEndGrace{3000};
    // Opening takes some tens of milliseconds on a busy machine; a server
    // that has not answered in this time is taken for one that will not.
    static constexpr std::chrono::milliseconds kOpenDeadline{2000};
    // How long the destructor waits for SDL to let go of the device. SDL's
    // audio thread ends only at the server's next request for sound, which
    // for a device opened moments before can take 2 s (a null sink's first
    // block); a server that has not asked by then is taken for a frozen one.
    static constexpr std::chrono::milliseconds kCloseDeadline{2500};
    // The device stays open this long after the last sound, so the clips and
    // announcements of a busy moment do not open it again each time.
    static constexpr std::chrono::milliseconds kIdleClose{2000};

    struct State;  // what the device's callback shares with the player

private:
    explicit SdlAudioPlayer(int bufferFrames);
    // Opens the output on a thread of its own, within kOpenDeadline.
    bool OpenDevice(std::string& why);
    // Closes an output left idle; on the clip-end thread.
    void CloseIdleDevice();
    void DeliverEnds();
    // The owner's clip ends where it is: Stop, and every Open, Close and Play.
    void Halt();

    // Serialises the owner's calls with the clip-end thread's device work,
    // so that the device is not closed under a Play. Taken before
    // State::mutex, never while SDL's device lock is held.
    std::mutex m_operationMutex;
    // Shared with the device's callback and with any open or close thread
    // that outlives the player.
    std::shared_ptr<State> m_state;
    uint32_t m_device = 0;     // 0 while closed; under m_operationMutex
    bool m_subsystem = false;  // SDL's audio is initialised by this player
    int m_bufferFrames;
    // SDL reported the device removed, it could not be opened again, or a
    // clip had to be ended by force.
    mutable std::atomic<bool> m_deviceLost{false};
    std::thread m_thread;  // delivers ends and closes the idle device; started last, joined first
};
