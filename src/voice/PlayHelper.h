#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "voice/Announcement.h"
#include "voice/OthersMuting.h"

class AudioPlayer;

// The one wrapper around the audio player: holds the play queue and speaks its
// announcements clip after clip.
//
// One owner: the play thread (RunPlayLoop, started by PlayThread) owns the
// player, the run (the announcement being spoken, the muting state) and the
// other-audio muting. The window thread (Enqueue, SetVolume) and the player's
// own thread (a clip's end) only post to it under the one lock, queueMutex;
// the play thread sleeps until something is posted or a retry of its own is
// due, and does nothing while the program is idle.
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
        std::unique_ptr<OthersMuting> muting;  // empty: the real one (ShieldOthers)
    };

    // The program's one wrapper, made by the first call with `options`; nullptr
    // when that failed (logged).
    static PlayHelper* GetInstance(Options options);
    // Shutdown: restores other programs' audio, closes and releases the
    // player; what is still queued is dropped (logged). The play thread must
    // have been stopped first.
    static void Destroy();

    explicit PlayHelper(Options options);
    ~PlayHelper();

    // The queue holds at most this many clips (an announcement without clips
    // counts as one). A real backlog is a handful of announcements of about
    // five clips each; one 512-byte dot-form message alone makes about 500.
    // 20,000 clips are hours of speech, and at 32 to 64 bytes a clip name
    // about 1 MB: far above any backlog a store builds, and a peer flooding the
    // port cannot grow memory past it.
    static constexpr size_t kMaxQueuedClips = 20000;

    // A lost audio device is tried again at once, then after these pauses,
    // doubling: soon enough that a restarted server is used within a second
    // or two, rare enough that a long outage costs nothing.
    static constexpr std::chrono::milliseconds kFirstRetry{500};
    static constexpr std::chrono::milliseconds kLongestRetry{5000};

    // Appends a copy at the back of the queue (window thread) and wakes the
    // play thread; false when it would not fit under kMaxQueuedClips and was
    // dropped. The first drop of a burst writes one error line; the first
    // announcement that arrives once the queue has drained to half the bound
    // ends the burst, with one information line counting what was dropped.
    bool Enqueue(const Announcement& announcement);
    // False above 100 or without a player; a player made later gets the level.
    // The play thread applies it at once.
    bool SetVolume(unsigned volume);

    // A clip is playing.
    bool IsBusy() const { return m_busy.load(); }
    // Nothing queued and no run under way.
    bool IsIdle();
    // Number of waiting announcements (takes the queue's lock).
    size_t QueueLength();
    // How often the play thread woke up since it was made: it counts every
    // pass of its loop, so a test can see that idle means asleep.
    uint64_t PlayLoopPasses() const { return m_passes.load(); }

    // For PlayThread: arms the loop (before its thread starts), runs it on
    // the calling thread until QuitPlayLoop, and ends it from any thread.
    void PlayLoopStarting();
    void RunPlayLoop();
    void QuitPlayLoop();

    PlayHelper(const PlayHelper&) = delete;
    PlayHelper& operator=(const PlayHelper&) = delete;

private:
    // What other threads posted since the play thread last looked.
    struct Posted {
        std::vector<uint64_t> ends;  // serials of the players whose clip ended
        bool queued = false;         // an announcement was queued
        bool volume = false;         // the level changed
    };
    enum class Outcome { Started, Skipped, DeviceGone, NoPlayer };

    // Owner-only code checks that it runs on the play thread (debug builds);
    // before the loop runs and after it ended the constructing thread owns.
    void AssertInPlayThread() const;
    void Post(const std::function<void(Posted&)>& what);
    Posted TakePosted();  // under queueMutex

    // Everything below runs on the play thread.
    void Step(const Posted& posted);
    void OnClipEnd(uint64_t serial);
    // One step of the play sequence: starts the next clip, or takes the next
    // announcement, or ends the run.
    void Advance();
    bool HavePlayer();
    Outcome Play(const std::string& clip);
    // Has the player decode the clip after the one just started, so that the
    // end of this one starts the next without file work.
    void OpenNextAhead();
    bool TakeNext(Announcement& next);
    void StartRun();
    void LowerOthers();
    void EndRun();
    void BeginOutage();
    bool TryNewPlayer();
    std::unique_ptr<AudioPlayer> MakePlayer(std::string* reason);
    void Install(std::unique_ptr<AudioPlayer> player);
    void DropPlayer();

    // Shared with other threads, guarded by m_queueMutex: the queue and what
    // is posted. Held only for a copy, so no thread ever waits on playback or
    // on the audio server.
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<Announcement> m_queue;
    size_t m_queuedClips = 0;  // clips in m_queue
    size_t m_dropped = 0;      // dropped in the burst under way
    Posted m_posted;
    bool m_quit = false;
    bool m_runUnderWay = false;  // written by the play thread, so IsIdle sees a run in one lock

    // Read from any thread.
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_havePlayer{false};
    std::atomic<unsigned> m_volume{100};
    std::atomic<uint64_t> m_passes{0};
    std::atomic<std::thread::id> m_owner{};

    const PlayerFactory m_makePlayer;
    const std::function<bool()> m_shieldOn;
    const std::unique_ptr<OthersMuting> m_muting;
    const std::string m_audioDir;

    // The play thread's own.
    std::unique_ptr<AudioPlayer> m_player;
    uint64_t m_playerSerial = 0;        // numbers players taken into use
    std::deque<std::string> m_current;  // clips of the announcement under way not yet started
    bool m_inProgress = false;          // m_current belongs to an announcement under way
    bool m_playing = false;             // a clip was started and its end has not come yet
    bool m_inRun = false;               // from a run's first announcement to the queue running dry
    bool m_muted = false;               // others were lowered by this run
    bool m_outage = false;              // the device was lost and no new player opened yet
    std::chrono::milliseconds m_backoff{0};
    std::optional<std::chrono::steady_clock::time_point> m_retryAt;
};
