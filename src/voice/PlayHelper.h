#pragma once

#include <atomic>
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
    // Creates the wrapper on first use; nullptr when that failed (logged).
    static PlayHelper* GetInstance();
    // The instance if it exists, without creating it.
    static PlayHelper* Peek();
    // Shutdown: restores other programs' audio if lowered, closes and releases
    // the player; what is still queued is dropped. The play thread must have
    // been stopped first.
    static void Destroy();
    // Tests replace the player the wrapper creates (nullptr: the real one).
    using PlayerFactory = std::function<std::unique_ptr<AudioPlayer>()>;
    static void SetPlayerFactory(PlayerFactory factory);

    // Appends a copy at the back of the queue (window thread).
    void Enqueue(const Announcement& announcement);
    // One step of the play sequence (play thread or player callback).
    void Advance();
    // False above 100 or without a player.
    bool SetVolume(unsigned volume);

    bool IsBusy() const { return m_busy.load(); }
    // Nothing queued and no run under way; waits for a step in progress.
    bool IsIdle();
    // Number of waiting announcements (takes the queue's lock).
    size_t QueueLength();

    PlayHelper(const PlayHelper&) = delete;
    PlayHelper& operator=(const PlayHelper&) = delete;

private:
    PlayHelper();
    ~PlayHelper();
    // The player's end callback, on the player's own thread.
    void OnPlayerEnd();
    // The steps below run with m_runMutex held.
    void AdvanceLocked();
    bool PlayNext();
    void Play(const std::string& clip);
    bool TakeNext(Announcement& next);

    std::atomic<bool> m_busy{false};
    std::deque<Announcement> m_queue;  // guarded by m_queueMutex alone
    bool m_inProgress = false;
    std::deque<std::string> m_current;
    // Held only for a copy, so the window thread never waits on playback or on
    // the audio server.
    std::mutex m_queueMutex;
    // Serialises the play sequence: player calls and other-audio muting.
    std::mutex m_runMutex;
    std::unique_ptr<AudioPlayer> m_player;
    std::string m_audioDir;
    bool m_muted = false;
    bool m_inRun = false;    // a run is under way (from its first clip to the queue running dry)
    bool m_closing = false;  // shutdown began: ends that still arrive start nothing
};
