#include "voice/PlayHelper.h"

#include <algorithm>
#include <string>

#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/SingletonSlot.h"
#include "voice/AudioPlayer.h"
#include "voice/SdlAudioPlayer.h"
#include "voice/ShieldOthers.h"

namespace {
SingletonSlot<PlayHelper> s_slot;

// What an announcement takes of the queue's bound: an empty one counts too, so
// that a flood of messages that compose to nothing is bounded as well.
size_t ClipsCounted(const Announcement& announcement) {
    return std::max<size_t>(1, announcement.size());
}
}  // namespace

PlayHelper* PlayHelper::GetInstance(Options options) {
    return s_slot.GetOrCreate([&options]() -> PlayHelper* {
        try {
            return new PlayHelper(std::move(options));
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 PlayHelper::GetInstance");
            return nullptr;
        }
    });
}

void PlayHelper::Destroy() {
    s_slot.Destroy();
}

std::unique_ptr<AudioPlayer> PlayHelper::MakePlayer(std::string* reason) {
    if (m_makePlayer) {
        return m_makePlayer(reason);
    }
    return SdlAudioPlayer::Create(reason);
}

PlayHelper::PlayHelper(Options options)
    : m_volume(std::min(options.volume, 100u)),
      m_makePlayer(std::move(options.makePlayer)),
      m_shieldOn(std::move(options.shieldOn)),
      m_audioDir(GetAudioDir()) {
    std::string reason;
    std::unique_ptr<AudioPlayer> player = MakePlayer(&reason);
    if (!player) {
        // Said once here; every clip then counts as one that failed to open,
        // silently, so runs still end and other programs are still restored.
        // Each new run tries again, quietly.
        LogHelper::GetInstance()->Error("PlayHelper 无法创建音频播放器，将不播报语音。" +
                                        (reason.empty() ? "" : " " + reason));
        return;
    }
    Install(std::move(player));
}

void PlayHelper::Install(std::unique_ptr<AudioPlayer> player) {
    // Numbered rather than known by address: a new player may take the old
    // one's memory.
    const uint64_t serial = ++m_playerSerial;
    player->SetEndCallback([this, serial] { OnPlayerEnd(serial); });
    std::lock_guard<std::mutex> lock(m_playerMutex);
    player->SetVolume(m_volume, m_volume);
    m_player = std::move(player);
}

bool PlayHelper::NeedsNewPlayer() {
    std::lock_guard<std::mutex> lock(m_runMutex);
    // The queue first: an idle pass, every 100 ms, asks nothing of SDL.
    return !m_closing && !m_inRun && QueueLength() > 0 && (!m_player || m_player->DeviceLost());
}

void PlayHelper::ReplacePlayer() {
    std::unique_ptr<AudioPlayer> old;
    {
        std::lock_guard<std::mutex> run(m_runMutex);
        std::lock_guard<std::mutex> player(m_playerMutex);
        old = std::move(m_player);
    }
    // Joined without the lock; an end it still delivers finds it gone.
    old.reset();
    std::unique_ptr<AudioPlayer> fresh = MakePlayer(nullptr);
    if (!fresh) {
        return;
    }
    std::lock_guard<std::mutex> run(m_runMutex);
    if (!m_closing) {
        Install(std::move(fresh));
    }
}

PlayHelper::~PlayHelper() {
    {
        std::lock_guard<std::mutex> lock(m_runMutex);
        m_closing = true;
        if (m_player) {
            m_player->Stop();
            m_player->Close();
        }
        // Other programs must not stay silent because this one ended mid-run,
        // nor because an earlier restore failed (it costs nothing otherwise).
        ShieldOthers(true);
        m_muted = false;
        m_busy = false;
    }
    // Joins the player's own thread; an end still on its way finds m_closing set.
    m_player.reset();
}

void PlayHelper::SetWakeHook(WakeHook hook) {
    std::lock_guard<std::mutex> lock(m_hookMutex);
    m_wakeHook = std::move(hook);
}

void PlayHelper::WakePlayThread() {
    std::lock_guard<std::mutex> lock(m_hookMutex);
    if (m_wakeHook) {
        m_wakeHook();
    }
}

bool PlayHelper::Enqueue(const Announcement& announcement) {
    const size_t clips = ClipsCounted(announcement);
    bool accepted = false;
    bool burstStarts = false;
    size_t burstDropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_dropped > 0 && m_queuedClips <= kMaxQueuedClips / 2) {
            burstDropped = m_dropped;
            m_dropped = 0;
        }
        if (m_queuedClips + clips <= kMaxQueuedClips) {
            m_queue.push_back(announcement);
            m_queuedClips += clips;
            accepted = true;
        } else {
            burstStarts = m_dropped == 0;
            ++m_dropped;
        }
    }
    // Written outside the lock: the play sequence must not wait on the log.
    if (burstDropped > 0) {
        LogHelper::GetInstance()->Info("PlayHelper::Enqueue 播报队列已恢复，其间丢弃了 " +
                                       std::to_string(burstDropped) + " 条播报。");
    }
    if (burstStarts) {
        LogHelper::GetInstance()->Error("PlayHelper::Enqueue 播报队列已满（" +
                                        std::to_string(kMaxQueuedClips) +
                                        " 段语音），丢弃新的播报。");
    }
    if (accepted) {
        // Started from idle at once instead of at the play thread's next pass.
        WakePlayThread();
    }
    return accepted;
}

size_t PlayHelper::QueueLength() {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}

bool PlayHelper::IsIdle() {
    std::lock_guard<std::mutex> lock(m_runMutex);
    return !m_inRun && QueueLength() == 0;
}

bool PlayHelper::SetVolume(unsigned volume) {
    if (volume > 100) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_playerMutex);
    m_volume = volume;
    if (!m_player) {
        return false;
    }
    m_player->SetVolume(volume, volume);
    LogHelper::GetInstance()->Debug("PlayHelper::SetVolume " + std::to_string(volume));
    return true;
}

void PlayHelper::Advance() {
    bool wake = false;
    try {
        if (NeedsNewPlayer()) {
            ReplacePlayer();
        }
        std::lock_guard<std::mutex> lock(m_runMutex);
        if (m_closing) {
            return;
        }
        wake = AdvanceLocked();
    } catch (...) {
        // A run left marked busy with no clip under way would never be
        // stepped again: the play thread steps only while nothing plays.
        m_busy = false;
        throw;
    }
    if (wake) {
        WakePlayThread();
    }
}

void PlayHelper::OnPlayerEnd(uint64_t serial) {
    // Runs on the player's own thread, where nothing may escape.
    try {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_runMutex);
            if (m_closing || !m_player || serial != m_playerSerial) {
                return;
            }
            LogHelper::GetInstance()->Debug("当前语音播放结束。");
            m_player->Close();
            wake = AdvanceLocked();
        }
        // An announcement queued while this run was ending found the thread
        // still busy; it is taken now rather than at the next pass.
        if (wake) {
            WakePlayThread();
        }
    } catch (...) {
        // No further end will come for this run; with busy cleared the play
        // thread takes the sequence on at its next pass.
        m_busy = false;
        LogHelper::GetInstance()->Error("发生异常 PlayHelper::OnPlayerMessage");
    }
}

void PlayHelper::OpenNextAhead() {
    // The next clip of this announcement, or else the first of the next one.
    std::string next;
    if (m_inProgress && !m_current.empty()) {
        next = m_current.front();
    } else {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (!m_queue.empty() && !m_queue.front().empty()) {
            next = m_queue.front().front();
        }
    }
    if (!next.empty()) {
        // A clip that cannot be read is left to Open, which logs why.
        m_player->OpenAhead(m_audioDir + next);
    }
}

bool PlayHelper::TakeNext(Announcement& next) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_queue.empty()) {
        return false;
    }
    m_queuedClips -= ClipsCounted(m_queue.front());
    next = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

bool PlayHelper::AdvanceLocked() {
    if (PlayNext()) {
        return !m_busy;
    }
    // An announcement without clips starts nothing, so the loop takes the next
    // one at once instead of leaving the run marked busy with nothing to end it.
    Announcement next;
    while (TakeNext(next)) {
        m_current.assign(next.begin(), next.end());
        if (!m_inRun) {
            m_inRun = true;
            m_busy = true;
            // Levels are saved once per run: lowering again while lowered would
            // save the zeros and restore them.
            if (!m_muted && m_shieldOn && m_shieldOn()) {
                ShieldOthers(false);
                m_muted = true;
            }
        }
        m_inProgress = true;
        if (PlayNext()) {
            return !m_busy;
        }
    }
    if (m_inRun || m_busy || m_muted) {
        m_busy = false;
        // A run ended early (a lost device) may leave a clip opened ahead.
        if (m_player) {
            m_player->DropAhead();
        }
        if (m_muted) {
            ShieldOthers(true);
            m_muted = false;
        }
        m_inRun = false;
        return true;
    }
    return false;
}

bool PlayHelper::PlayNext() {
    if (!m_inProgress) {
        return false;
    }
    if (m_current.empty()) {
        m_inProgress = false;
        return false;
    }
    const std::string clip = std::move(m_current.front());
    m_current.pop_front();
    Play(clip);
    return true;
}

void PlayHelper::Play(const std::string& clip) {
    // A clip that does not start clears busy, so the play thread moves on at
    // its next pass; one that starts sets it again, so it is heard to its end.
    // Without a working player the clip is skipped quietly: the missing or
    // lost device was reported once already.
    if (!m_player || m_player->DeviceLost()) {
        if (m_player) {
            m_player->DropAhead();
        }
        m_busy = false;
        return;
    }
    m_player->Stop();
    const std::string path = m_audioDir + clip;
    if (m_player->Open(path)) {
        LogHelper::GetInstance()->Debug("PlayHelper::Play " + path);
        if (m_player->Play()) {
            m_busy = true;
            OpenNextAhead();
            return;
        }
    }
    m_busy = false;
    LogHelper::GetInstance()->Error(path);
    LogHelper::GetInstance()->Error(m_player->LastError());
}
