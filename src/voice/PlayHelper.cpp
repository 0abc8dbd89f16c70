#include "voice/PlayHelper.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/SingletonSlot.h"
#include "voice/AudioPlayer.h"
#include "voice/OthersMuting.h"
#include "voice/SdlAudioPlayer.h"
#include "voice/ShieldOthersMuting.h"

namespace {
SingletonSlot<PlayHelper> s_slot;

using SteadyClock = std::chrono::steady_clock;

// After an exception the sequence is stepped again this much later, as the
// thread's old pass did, instead of waiting for the next post.
constexpr std::chrono::milliseconds kAfterException{100};

// What an announcement takes of the queue's bound: an empty one counts too, so
// that a flood of messages that compose to nothing is bounded as well.
size_t ClipsCounted(const Announcement& announcement) {
    return std::max<size_t>(1, announcement.size());
}

LogHelper* Log() {
    return LogHelper::GetInstance();
}
}  // namespace

PlayHelper* PlayHelper::GetInstance(Options options) {
    return s_slot.GetOrCreate([&options]() -> PlayHelper* {
        try {
            return new PlayHelper(std::move(options));
        } catch (...) {
            Log()->Error("发生异常 PlayHelper::GetInstance");
            return nullptr;
        }
    });
}

void PlayHelper::Destroy() {
    s_slot.Destroy();
}

PlayHelper::PlayHelper(Options options)
    : m_volume(std::min(options.volume, 100u)),
      m_makePlayer(std::move(options.makePlayer)),
      m_shieldOn(std::move(options.shieldOn)),
      m_muting(options.muting ? std::move(options.muting) : std::make_unique<ShieldOthersMuting>()),
      m_audioDir(GetAudioDir()) {
    std::string reason;
    std::unique_ptr<AudioPlayer> player = MakePlayer(&reason);
    if (!player) {
        // Said once here; each run then tries again quietly, and what it
        // cannot speak is skipped with one information line per announcement.
        Log()->Error("PlayHelper 无法创建音频播放器，将不播报语音。" +
                     (reason.empty() ? "" : " " + reason));
        return;
    }
    Install(std::move(player));
}

PlayHelper::~PlayHelper() {
    AssertInPlayThread();
    if (m_player) {
        m_player->Stop();
        m_player->Close();
    }
    // Other programs must not stay silent because this one ended mid-run or
    // mid-outage, nor because an earlier restore failed.
    m_muting->Restore();
    m_muted = false;
    size_t dropped = m_queue.size();
    if (m_inProgress && !m_current.empty()) {
        ++dropped;
    }
    if (dropped > 0) {
        Log()->Info("PlayHelper 程序退出，丢弃未播报的 " + std::to_string(dropped) + " 条播报。");
    }
    // Joins the player's own thread; an end still on its way is posted to a
    // loop that no longer runs.
    m_player.reset();
}

void PlayHelper::AssertInPlayThread() const {
    const std::thread::id owner = m_owner.load();
    assert(owner == std::thread::id{} || owner == std::this_thread::get_id());
    (void)owner;
}

std::unique_ptr<AudioPlayer> PlayHelper::MakePlayer(std::string* reason) {
    if (m_makePlayer) {
        return m_makePlayer(reason);
    }
    return SdlAudioPlayer::Create(reason);
}

void PlayHelper::Install(std::unique_ptr<AudioPlayer> player) {
    AssertInPlayThread();
    // Numbered rather than known by address: a new player may take the old
    // one's memory, and the old one may still report an end.
    const uint64_t serial = ++m_playerSerial;
    player->SetEndCallback(
        [this, serial] { Post([serial](Posted& p) { p.ends.push_back(serial); }); });
    const unsigned volume = m_volume.load();
    player->SetVolume(volume, volume);
    m_player = std::move(player);
    m_havePlayer = true;
}

void PlayHelper::DropPlayer() {
    AssertInPlayThread();
    if (m_player) {
        m_player->DropAhead();
    }
    m_havePlayer = false;
    m_playing = false;
    m_busy = false;
    // Joins the player's thread; nothing of ours is locked meanwhile.
    m_player.reset();
}

// ---- posting, from any thread -------------------------------------------

void PlayHelper::Post(const std::function<void(Posted&)>& what) {
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        what(m_posted);
    }
    m_wake.notify_one();
}

PlayHelper::Posted PlayHelper::TakePosted() {
    Posted taken = std::move(m_posted);
    m_posted = Posted{};
    return taken;
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
            m_posted.queued = true;
            accepted = true;
        } else {
            burstStarts = m_dropped == 0;
            ++m_dropped;
        }
    }
    if (accepted) {
        m_wake.notify_one();
    }
    // Written outside the lock: the play sequence must not wait on the log.
    if (burstDropped > 0) {
        Log()->Info("PlayHelper::Enqueue 播报队列已恢复，其间丢弃了 " +
                    std::to_string(burstDropped) + " 条播报。");
    }
    if (burstStarts) {
        Log()->Error("PlayHelper::Enqueue 播报队列已满（" + std::to_string(kMaxQueuedClips) +
                     " 段语音），丢弃新的播报。");
    }
    return accepted;
}

bool PlayHelper::SetVolume(unsigned volume) {
    if (volume > 100) {
        return false;
    }
    m_volume = volume;
    Post([](Posted& p) { p.volume = true; });
    if (!m_havePlayer.load()) {
        return false;
    }
    Log()->Debug("PlayHelper::SetVolume " + std::to_string(volume));
    return true;
}

size_t PlayHelper::QueueLength() {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}

bool PlayHelper::IsIdle() {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.empty() && !m_runUnderWay && m_posted.ends.empty();
}

// ---- the play thread ----------------------------------------------------

void PlayHelper::PlayLoopStarting() {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_quit = false;
    // What was queued while no loop ran is taken at its first pass.
    m_posted.queued = true;
}

void PlayHelper::QuitPlayLoop() {
    Post([this](Posted&) { m_quit = true; });
}

void PlayHelper::RunPlayLoop() {
    m_owner = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_queueMutex);
    while (!m_quit) {
        const Posted posted = TakePosted();
        lock.unlock();
        ++m_passes;
        try {
            Step(posted);
        } catch (...) {
            Log()->Error("发生异常 MainFrame::PlayThreadProc");
            m_retryAt = SteadyClock::now() + kAfterException;
        }
        lock.lock();
        const auto due = [this] {
            return m_quit || m_posted.queued || m_posted.volume || !m_posted.ends.empty();
        };
        if (m_retryAt) {
            m_wake.wait_until(lock, *m_retryAt, due);
        } else {
            m_wake.wait(lock, due);
        }
    }
    lock.unlock();
    m_owner = std::thread::id{};
}

void PlayHelper::Step(const Posted& posted) {
    AssertInPlayThread();
    if (posted.volume && m_player) {
        const unsigned volume = m_volume.load();
        m_player->SetVolume(volume, volume);
    }
    for (const uint64_t serial : posted.ends) {
        OnClipEnd(serial);
    }
    if (m_retryAt && SteadyClock::now() >= *m_retryAt && !m_outage) {
        m_retryAt.reset();
    }
    Advance();
}

void PlayHelper::OnClipEnd(uint64_t serial) {
    AssertInPlayThread();
    // An end from a player already replaced, or one that was stopped, is old news.
    if (!m_player || serial != m_playerSerial || !m_playing) {
        return;
    }
    try {
        m_playing = false;
        m_busy = false;
        Log()->Debug("当前语音播放结束。");
        m_player->Close();
        // A clip cut by a lost device is not played again: the announcement
        // goes on with its next clip on the new player.
        if (m_player->DeviceLost()) {
            BeginOutage();
        }
    } catch (...) {
        Log()->Error("发生异常 PlayHelper::OnPlayerMessage");
    }
}

bool PlayHelper::HavePlayer() {
    if (m_outage) {
        if (m_retryAt && SteadyClock::now() < *m_retryAt) {
            return false;  // woken by a post: the retry is not due yet
        }
        return TryNewPlayer();
    }
    // The queue first: a post that finds nothing to start asks nothing of the device.
    if (!m_inRun && !m_inProgress) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_queue.empty()) {
            return true;
        }
    }
    if (m_player && m_player->DeviceLost()) {
        BeginOutage();
        return !m_outage;
    }
    if (!m_player && !m_inRun) {
        // No device since the start: each run tries again, quietly.
        if (std::unique_ptr<AudioPlayer> fresh = MakePlayer(nullptr)) {
            Install(std::move(fresh));
        }
    }
    return true;
}

void PlayHelper::Advance() {
    AssertInPlayThread();
    if (m_playing || !HavePlayer()) {
        return;
    }
    bool triedAtOnce = false;
    for (;;) {
        if (m_inProgress && !m_current.empty()) {
            std::string clip = std::move(m_current.front());
            m_current.pop_front();
            switch (Play(clip)) {
                case Outcome::Started:
                    LowerOthers();
                    return;
                case Outcome::Skipped:
                    continue;
                case Outcome::NoPlayer:
                    m_current.clear();
                    continue;
                case Outcome::DeviceGone:
                    // Never heard: it is the first one spoken on the new player.
                    m_current.push_front(std::move(clip));
                    BeginOutage();
                    if (m_outage || triedAtOnce) {
                        return;
                    }
                    triedAtOnce = true;
                    continue;
            }
        }
        m_inProgress = false;
        Announcement next;
        if (!TakeNext(next)) {
            break;
        }
        StartRun();
        if (!m_player) {
            Log()->Info("PlayHelper 没有音频播放器，跳过一条播报（" + std::to_string(next.size()) +
                        " 段语音）。");
            continue;
        }
        m_current.assign(next.begin(), next.end());
        m_inProgress = true;
    }
    EndRun();
}

bool PlayHelper::TakeNext(Announcement& next) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_queue.empty()) {
        return false;
    }
    m_queuedClips -= ClipsCounted(m_queue.front());
    next = std::move(m_queue.front());
    m_queue.pop_front();
    m_runUnderWay = true;
    return true;
}

void PlayHelper::StartRun() {
    if (m_inRun) {
        return;
    }
    m_inRun = true;
}

void PlayHelper::LowerOthers() {
    // After the run's first clip has started, not before: the device takes
    // longer to sound it (a buffer and the server's latency) than the
    // lowering takes, so others are quiet by the first sound, and the first
    // sound does not wait for the lowering's calls to the sound server. A run
    // none of whose clips could start lowers nothing. Levels are saved once
    // per run: lowering again while lowered would save the zeros and restore them.
    if (m_inRun && !m_muted && m_shieldOn && m_shieldOn()) {
        m_muting->Lower();
        m_muted = true;
    }
}

void PlayHelper::EndRun() {
    if (m_inRun || m_muted) {
        if (m_player) {
            m_player->DropAhead();
        }
        if (m_muted) {
            m_muting->Restore();
            m_muted = false;
        }
        m_inRun = false;
    }
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_runUnderWay = false;
}

PlayHelper::Outcome PlayHelper::Play(const std::string& clip) {
    if (!m_player) {
        return Outcome::NoPlayer;
    }
    if (m_player->DeviceLost()) {
        return Outcome::DeviceGone;
    }
    m_player->Stop();
    const std::string path = m_audioDir + clip;
    if (m_player->Open(path)) {
        Log()->Debug("PlayHelper::Play " + path);
        if (m_player->Play()) {
            m_playing = true;
            m_busy = true;
            OpenNextAhead();
            return Outcome::Started;
        }
    }
    if (m_player->DeviceLost()) {
        return Outcome::DeviceGone;
    }
    Log()->Error(path);
    Log()->Error(m_player->LastError());
    return Outcome::Skipped;
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

void PlayHelper::BeginOutage() {
    if (!m_outage) {
        Log()->Error("PlayHelper 音频设备已断开，暂停播报，已排队的播报保留，稍后重试。");
        m_outage = true;
        m_backoff = std::chrono::milliseconds{0};
    }
    DropPlayer();
    TryNewPlayer();
}

bool PlayHelper::TryNewPlayer() {
    DropPlayer();
    std::unique_ptr<AudioPlayer> fresh = MakePlayer(nullptr);
    if (fresh && !fresh->DeviceLost()) {
        Install(std::move(fresh));
        m_outage = false;
        m_retryAt.reset();
        Log()->Info("PlayHelper 音频设备已恢复，继续播报。");
        return true;
    }
    m_backoff = m_backoff.count() == 0 ? kFirstRetry : std::min(m_backoff * 2, kLongestRetry);
    m_retryAt = SteadyClock::now() + m_backoff;
    return false;
}
