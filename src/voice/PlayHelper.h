#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "voice/Announcement.h"

class AudioPlayer;

// The one wrapper around the audio player: holds the play queue and speaks its
// announcements clip after clip.
class PlayHelper {
public:
    // Makes a player; nullptr, with the reason when there is one, when none
    // can be made.
    using PlayerFactory = std::function<std::unique_ptr<AudioPlayer>(std::string* reason)>;
    // What the owner hands in.
    struct Options {
        PlayerFactory makePlayer;        // empty: the real player on the audio device
        std::function<bool()> shieldOn;  // the user's switch, read as each run starts; empty: off
        unsigned volume = 100;           // 0..100
    };

    // The program's one wrapper, made by the first call with `options`; nullptr
    // when that failed (logged).
    static PlayHelper* GetInstance(Options options);
    // Shutdown: restores other programs' audio if lowered, closes and releases
    // the player; what is still queued is dropped. The play thread must have
    // been stopped first.
    static void Destroy();

    explicit PlayHelper(Options options);
    ~PlayHelper();

    // The play thread's owner hands a hook that wakes it. It is called with
    // none of the wrapper's locks held when the thread has work: an
    // announcement was queued, or the player went idle (a run ended, a clip
    // did not start). Once SetWakeHook returns, the old hook is not running.
    using WakeHook = std::function<void()>;
    void SetWakeHook(WakeHook hook);

    // The queue holds at most this many clips (an announcement without clips
    // counts as one). A real backlog is a handful of announcements of about
    // five clips each; one 512-byte dot-form message alone makes about 500.
    // 20,000 clips are hours of speech, and at 32 to 64 bytes a clip name
    // about 1 MB: far above any backlog a store builds, and a peer flooding the
    // port cannot grow memory past it.
    static constexpr size_t kMaxQueuedClips = 20000;

    // Appends a copy at the back of the queue (window thread) and wakes the
    // play thread; false when it would not fit under kMaxQueuedClips and was
    // dropped. The first drop of a
    // burst writes one error line; the first announcement that arrives once
    // the queue has drained to half the bound ends the burst, with one
    // information line counting what was dropped.
    bool Enqueue(const Announcement& announcement);
    // One step of the play sequence (play thread). A run about to start
    // without a working player first tries a new one, so that an audio server
    // that comes up, or back, later is used from the next announcement on.
    void Advance();
    // False above 100 or without a player; a player made later gets the level.
    bool SetVolume(unsigned volume);

    bool IsBusy() const { return m_busy.load(); }
    // Nothing queued and no run under way; waits for a step in progress.
    bool IsIdle();
    // Number of waiting announcements (takes the queue's lock).
    size_t QueueLength();

    PlayHelper(const PlayHelper&) = delete;
    PlayHelper& operator=(const PlayHelper&) = delete;

private:
    // The player's end callback, on the player's own thread; `serial` names the
    // player that ended, as one being replaced may still report.
    void OnPlayerEnd(uint64_t serial);
    // The owner's player, or the real one; nullptr (and why) when none can be made.
    std::unique_ptr<AudioPlayer> MakePlayer(std::string* reason);
    // Takes a player into use under both locks (its end callback, its level).
    void Install(std::unique_ptr<AudioPlayer> player);
    bool NeedsNewPlayer();
    // On the play thread only: the old player's thread is joined here, and it
    // may be waiting for m_runMutex to deliver an end.
    void ReplacePlayer();
    void WakePlayThread();
    // The steps below run with m_runMutex held. AdvanceLocked is true when the
    // step left the player idle after doing something, so the play thread
    // should go on at once.
    bool AdvanceLocked();
    bool PlayNext();
    void Play(const std::string& clip);
    // Has the player decode the clip after the one just started, so that the
    // end of this one starts the next without file work.
    void OpenNextAhead();
    bool TakeNext(Announcement& next);

    std::atomic<bool> m_busy{false};
    std::deque<Announcement> m_queue;  // guarded by m_queueMutex alone
    size_t m_queuedClips = 0;          // clips in m_queue; guarded by m_queueMutex
    size_t m_dropped = 0;              // dropped in the burst under way; guarded by m_queueMutex
    bool m_inProgress = false;
    std::deque<std::string> m_current;
    // Held only for a copy, so the window thread never waits on playback or on
    // the audio server.
    std::mutex m_queueMutex;
    // Serialises the play sequence: player calls and other-audio muting.
    std::mutex m_runMutex;
    std::unique_ptr<AudioPlayer> m_player;  // replaced under m_runMutex and m_playerMutex
    // Held by SetVolume, which comes from the window thread, against a replacement.
    std::mutex m_playerMutex;
    unsigned m_volume = 100;      // guarded by m_playerMutex
    uint64_t m_playerSerial = 0;  // counts players taken into use; guarded by m_runMutex
    const PlayerFactory m_makePlayer;
    const std::function<bool()> m_shieldOn;
    std::string m_audioDir;
    bool m_muted = false;
    bool m_inRun = false;    // a run is under way (from its first clip to the queue running dry)
    bool m_closing = false;  // shutdown began: ends that still arrive start nothing
    std::mutex m_hookMutex;  // held while the hook is called, so unhooking waits for it
    WakeHook m_wakeHook;
};
