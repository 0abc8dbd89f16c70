// The play sequence on the real SDL player (dummy driver): announcements in
// arrival order, clip after clip, each heard to its end, the next clip opened
// ahead and played once or freed; bad clips, empty announcements, a missing
// player and floods never leave a run stuck.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/PlayHelperFixture.h"
#include "support/ToneClip.h"
#include "support/WaitUntil.h"
#include "voice/AudioPlayer.h"
#include "voice/OthersMuting.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"
#include "voice/SdlAudioPlayer.h"

namespace {
const std::string kEnd = "当前语音播放结束。";

size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class PlayHelperTest : public PlayHelperFixture {
protected:
    void SetUp() override {
        PlayHelperFixture::SetUp();
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_TRUE(MakeToneClip(m_audio + "a.wav", 0.3, 440));
        ASSERT_TRUE(MakeToneClip(m_audio + "b.mp3", 0.3, 660));
        ASSERT_TRUE(MakeToneClip(m_audio + "c.wav", 0.3, 880));
        ASSERT_TRUE(MakeToneClip(m_audio + "tick.wav", 0.02, 1000));
        std::ofstream(m_audio + "text.wav") << "not a sound\n";
        // No audio server here; muting has its own tests.
        m_shield = false;
    }

    // What the sequence did, from its log lines: "play <clip>", "end" and
    // "error <text>" in order.
    std::vector<std::string> Events() const {
        std::vector<std::string> events;
        std::istringstream lines(Log());
        const std::string play = "PlayHelper::Play " + m_audio;
        for (std::string line; std::getline(lines, line);) {
            if (size_t at = line.find(play); at != std::string::npos) {
                events.push_back("play " + line.substr(at + play.size()));
            } else if (line.find(kEnd) != std::string::npos) {
                events.push_back("end");
            } else if (line.find(" ERROR ") != std::string::npos) {
                const size_t colon = line.find(':', line.find(" ERROR "));
                std::string text = line.substr(colon + 1);
                if (text.rfind(m_audio, 0) == 0) {
                    text = text.substr(m_audio.size());
                }
                events.push_back("error " + text);
            }
        }
        return events;
    }
};

TEST_F(PlayHelperTest, SpeaksAnnouncementsInArrivalOrderEachClipToItsEnd) {
    PlayHelper* helper = Start();
    helper->Enqueue({"a.wav", "b.mp3"});
    helper->Enqueue({"c.wav"});
    helper->Enqueue({"a.wav", "b.mp3"});  // equal announcements are both spoken
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"play a.wav", "end", "play b.mp3", "end", "play c.wav",
                                        "end", "play a.wav", "end", "play b.mp3", "end"}));
}

struct BadInputCase {
    const char* name;
    std::vector<Announcement> queue;
    std::vector<std::string> events;  // play/end, and for a clip that fails: its path first
};

void PrintTo(const BadInputCase& c, std::ostream* os) {
    *os << c.name;
}

class PlayHelperBadInput : public PlayHelperTest,
                           public ::testing::WithParamInterface<BadInputCase> {};

// Each row ends idle: a clip that does not open is logged and skipped, and the
// clip after it is heard to its end, not cut short by the next pass.
TEST_P(PlayHelperBadInput, SkipsWhatCannotPlayAndEndsTheRun) {
    PlayHelper* helper = Start();
    for (const Announcement& announcement : GetParam().queue) {
        helper->Enqueue(announcement);
    }
    ASSERT_TRUE(WaitIdle(helper));
    std::vector<std::string> events = Events();
    // The library's own error text follows each failed path; keep only ours.
    std::vector<std::string> kept;
    for (size_t i = 0; i < events.size(); ++i) {
        kept.push_back(events[i]);
        if (events[i].rfind("error ", 0) == 0 && events[i].find('.') != std::string::npos) {
            ASSERT_LT(i + 1, events.size()) << "the library's error text is missing";
            ASSERT_EQ(events[i + 1].rfind("error ", 0), 0u) << events[i + 1];
            ++i;
        }
    }
    EXPECT_EQ(kept, GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Queues, PlayHelperBadInput,
    ::testing::Values(BadInputCase{"MissingClipFirst",
                                   {{"missing.wav", "a.wav", "b.mp3"}},
                                   {"error missing.wav", "play a.wav", "end", "play b.mp3", "end"}},
                      BadInputCase{"MissingClipBetween",
                                   {{"a.wav", "missing.wav", "b.mp3"}},
                                   {"play a.wav", "end", "error missing.wav", "play b.mp3", "end"}},
                      BadInputCase{"ClipThatIsNoAudio",
                                   {{"text.wav"}, {"c.wav"}},
                                   {"error text.wav", "play c.wav", "end"}},
                      BadInputCase{
                          "EveryClipMissing", {{"x.wav", "y.mp3"}}, {"error x.wav", "error y.mp3"}},
                      BadInputCase{"EmptyAnnouncementAlone", {{}}, {}},
                      BadInputCase{"EmptyAnnouncementsAround",
                                   {{}, {"a.wav"}, {}, {}, {"c.wav"}, {}},
                                   {"play a.wav", "end", "play c.wav", "end"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayHelperTest, WithoutAPlayerRunsStillEndAfterOneErrorLine) {
    m_makePlayer = [](std::string*) { return std::unique_ptr<AudioPlayer>(); };
    PlayHelper* helper = Start();
    EXPECT_FALSE(helper->SetVolume(50));
    helper->Enqueue({"a.wav", "b.mp3"});
    helper->Enqueue({"c.wav"});
    ASSERT_TRUE(WaitIdle(helper));
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 1u) << "one line when the wrapper is made, none per clip";
    EXPECT_EQ(events[0].rfind("error PlayHelper", 0), 0u) << events[0];
}

TEST_F(PlayHelperTest, ADeviceThatAppearsLaterIsUsedFromTheNextAnnouncement) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    PlayHelper* helper = Start();
    EXPECT_FALSE(helper->SetVolume(50));
    helper->Enqueue({"a.wav"});
    ASSERT_TRUE(WaitIdle(helper));
    const std::vector<std::string> silent = Events();
    ASSERT_EQ(silent.size(), 1u) << "the missing player is said once, its clips skipped quietly";
    // The audio server comes up while the program runs.
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    helper->Enqueue({"b.mp3"});
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(Events(), (std::vector<std::string>{silent[0], "play b.mp3", "end"}));
    EXPECT_TRUE(helper->SetVolume(60));
}

// A player whose ends the test delivers by hand, and whose device it can take
// away; what each one was asked to do outlives it.
struct FakeRecord {
    std::mutex mutex;
    std::vector<std::string> played;
    unsigned volume = 0;
    bool lost = false;
    bool throwOnClose = false;  // the next Close throws, as the end path's first step
    std::string ahead;          // opened ahead and neither taken nor dropped
    AudioPlayer::EndCallback end;
};

class FakePlayer : public AudioPlayer {
public:
    explicit FakePlayer(std::shared_ptr<FakeRecord> record) : m_record(std::move(record)) {}
    void SetEndCallback(EndCallback callback) override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->end = std::move(callback);
    }
    void SetVolume(unsigned left, unsigned /*right*/) override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->volume = left;
    }
    void Stop() override {}
    // A clip named "missing..." cannot be opened.
    bool Open(const std::string& path) override {
        m_path = path.substr(path.rfind('/') + 1);
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->ahead.clear();
        return m_path.rfind("missing", 0) != 0;
    }
    bool OpenAhead(const std::string& path) override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->ahead = path.substr(path.rfind('/') + 1);
        return true;
    }
    void DropAhead() override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->ahead.clear();
    }
    bool Play() override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        m_record->played.push_back(m_path);
        return true;
    }
    std::string LastError() const override { return {}; }
    void Close() override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        if (m_record->throwOnClose) {
            m_record->throwOnClose = false;
            throw std::runtime_error("close failed");
        }
    }
    bool DeviceLost() const override {
        std::lock_guard<std::mutex> lock(m_record->mutex);
        return m_record->lost;
    }

private:
    std::shared_ptr<FakeRecord> m_record;
    std::string m_path;
};

// Every fake player the wrapper makes, in order.
class FakePlayers {
public:
    // What the wrapper is handed to make its players.
    PlayHelper::PlayerFactory Factory() {
        return [this](std::string*) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_records.push_back(std::make_shared<FakeRecord>());
            return std::unique_ptr<AudioPlayer>(new FakePlayer(m_records.back()));
        };
    }
    size_t Made() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records.size();
    }
    std::shared_ptr<FakeRecord> operator[](size_t player) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records.at(player);
    }
    std::vector<std::string> Played(size_t player) {
        const std::shared_ptr<FakeRecord> record = (*this)[player];
        std::lock_guard<std::mutex> lock(record->mutex);
        return record->played;
    }
    // The end callback as the player holds it now.
    AudioPlayer::EndCallback End(size_t player) {
        const std::shared_ptr<FakeRecord> record = (*this)[player];
        std::lock_guard<std::mutex> lock(record->mutex);
        return record->end;
    }

private:
    std::mutex m_mutex;
    std::vector<std::shared_ptr<FakeRecord>> m_records;
};

// What the run asked of the other programs' audio, counted; the counts
// outlive the wrapper that owns the muting.
struct MutingCounts {
    std::atomic<int> lowered{0};
    std::atomic<int> restored{0};
    std::function<void()> whenLowered;  // set before the run
};

class CountingMuting : public OthersMuting {
public:
    explicit CountingMuting(std::shared_ptr<MutingCounts> counts) : m_counts(std::move(counts)) {}
    void Lower() override {
        if (m_counts->whenLowered) {
            m_counts->whenLowered();
        }
        ++m_counts->lowered;  // after it, so that a test waiting for the count sees what it did
    }
    void Restore() override { ++m_counts->restored; }

private:
    std::shared_ptr<MutingCounts> m_counts;
};

// Others are lowered once a run's first clip is under way, so that its
// first sound never waits for the sound server's calls; a run none of whose
// clips opens lowers nothing and so has nothing to give back.
TEST_F(PlayHelperTest, OthersAreLoweredOnceTheRunsFirstClipHasStarted) {
    FakePlayers players;
    m_makePlayer = players.Factory();
    const auto counts = std::make_shared<MutingCounts>();
    MutingCounts& muting = *counts;
    std::vector<std::string> playedWhenLowered;
    muting.whenLowered = [&] { playedWhenLowered = players.Played(0); };
    m_muting = std::make_unique<CountingMuting>(counts);
    m_shield = true;
    PlayHelper* helper = Start();

    helper->Enqueue({"missing.wav"});
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(muting.lowered.load(), 0);
    EXPECT_EQ(muting.restored.load(), 0);

    helper->Enqueue({"missing.wav", "a.wav", "b.mp3"});
    ASSERT_TRUE(WaitUntil([&] { return muting.lowered.load() == 1; }));
    EXPECT_EQ(playedWhenLowered, std::vector<std::string>{"a.wav"});
    players.End(0)();
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 2; }));
    players.End(0)();
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(muting.lowered.load(), 1) << "once per run";
    EXPECT_EQ(muting.restored.load(), 1);
}

const std::string kOutage = "PlayHelper 音频设备已断开";
const std::string kBack = "PlayHelper 音频设备已恢复";

// The server goes away mid-clip (the player ends the clip by force, as lost):
// nothing queued is lost. A new player is made at once, the cut announcement
// goes on with its next clip, what was queued behind it follows, the level set
// before is kept, other programs are lowered once and restored once, and an
// end the old player still delivers is not taken for the new one's.
TEST_F(PlayHelperTest, ALostDeviceKeepsTheQueueAndANewPlayerGoesOnWithTheNextClip) {
    FakePlayers players;
    m_makePlayer = players.Factory();
    const auto counts = std::make_shared<MutingCounts>();
    MutingCounts& muting = *counts;
    m_muting = std::make_unique<CountingMuting>(counts);
    m_shield = true;
    auto made = [&] { return players.Made(); };
    auto played = [&](size_t player) { return players.Played(player); };
    PlayHelper* helper = Start();
    ASSERT_EQ(made(), 1u);
    EXPECT_TRUE(helper->SetVolume(37));
    helper->Enqueue({"a.wav", "b.mp3", "c.wav"});
    helper->Enqueue({"c.wav"});
    ASSERT_TRUE(WaitUntil([&] { return played(0).size() == 1; }));

    AudioPlayer::EndCallback oldEnd;
    {
        std::lock_guard<std::mutex> lock(players[0]->mutex);
        players[0]->lost = true;
        oldEnd = players[0]->end;
    }
    oldEnd();
    ASSERT_TRUE(WaitUntil([&] { return made() == 2 && played(1).size() == 1; })) << Log();
    EXPECT_EQ(played(0), std::vector<std::string>{"a.wav"}) << "the rest is not tried on it";
    EXPECT_EQ(played(1), std::vector<std::string>{"b.mp3"}) << "the cut one goes on";
    {
        std::lock_guard<std::mutex> lock(players[1]->mutex);
        EXPECT_EQ(players[1]->volume, 37u) << "the level set before is kept";
    }
    for (size_t clips = 2; clips <= 3; ++clips) {
        players.End(1)();
        ASSERT_TRUE(WaitUntil([&] { return played(1).size() == clips; }));
    }
    players.End(1)();
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(played(1), (std::vector<std::string>{"b.mp3", "c.wav", "c.wav"}));
    EXPECT_EQ(CountOf(Log(), kOutage), 1u) << Log();
    EXPECT_EQ(CountOf(Log(), kBack), 1u) << Log();
    EXPECT_EQ(muting.lowered.load(), 1);
    EXPECT_EQ(muting.restored.load(), 1) << "restored when the run ended, not at the outage";

    helper->Enqueue({"a.wav", "b.mp3"});
    ASSERT_TRUE(WaitUntil([&] { return played(1).size() == 4; }));
    oldEnd();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(played(1), (std::vector<std::string>{"b.mp3", "c.wav", "c.wav", "a.wav"}));
}

// While no new player opens (the server is still down) the queue waits:
// announcements queued meanwhile are kept, a new player is tried again and
// again, the outage is said once, and all of it is spoken once one opens.
TEST_F(PlayHelperTest, DuringAnOutageTheQueueWaitsAndIsSpokenOnceADeviceOpens) {
    FakePlayers players;
    const PlayHelper::PlayerFactory make = players.Factory();
    std::atomic<bool> down{false};
    std::atomic<int> tries{0};
    m_makePlayer = [&](std::string* reason) {
        if (down) {
            ++tries;
            return std::unique_ptr<AudioPlayer>();
        }
        return make(reason);
    };
    const auto counts = std::make_shared<MutingCounts>();
    MutingCounts& muting = *counts;
    m_muting = std::make_unique<CountingMuting>(counts);
    m_shield = true;
    PlayHelper* helper = Start();
    helper->Enqueue({"a.wav", "b.mp3"});
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 1; }));
    down = true;
    {
        std::lock_guard<std::mutex> lock(players[0]->mutex);
        players[0]->lost = true;
    }
    players.End(0)();
    EXPECT_TRUE(helper->Enqueue({"c.wav"}));
    ASSERT_TRUE(WaitUntil([&] { return tries >= 3; })) << "tried at once, then again later";
    EXPECT_FALSE(helper->IsIdle()) << "the queue is kept";
    EXPECT_EQ(helper->QueueLength(), 1u);
    EXPECT_EQ(muting.restored.load(), 0) << "others stay lowered through the outage";

    down = false;
    ASSERT_TRUE(WaitUntil([&] { return players.Made() == 2 && players.Played(1).size() == 1; }));
    players.End(1)();
    ASSERT_TRUE(WaitUntil([&] { return players.Played(1).size() == 2; }));
    players.End(1)();
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(players.Played(1), (std::vector<std::string>{"b.mp3", "c.wav"}));
    EXPECT_EQ(CountOf(Log(), kOutage), 1u) << Log();
    EXPECT_EQ(CountOf(Log(), kBack), 1u) << Log();
    EXPECT_EQ(muting.lowered.load(), 1);
    EXPECT_EQ(muting.restored.load(), 1);
}

// Shutdown in the middle of an outage gives the other programs back and says
// what it dropped.
TEST_F(PlayHelperTest, ShutdownDuringAnOutageRestoresOthersAndLogsWhatIsDropped) {
    FakePlayers players;
    const PlayHelper::PlayerFactory make = players.Factory();
    std::atomic<bool> down{false};
    m_makePlayer = [&](std::string* reason) {
        return down ? std::unique_ptr<AudioPlayer>() : make(reason);
    };
    const auto counts = std::make_shared<MutingCounts>();
    MutingCounts& muting = *counts;
    m_muting = std::make_unique<CountingMuting>(counts);
    m_shield = true;
    PlayHelper* helper = Start();
    helper->Enqueue({"a.wav", "b.mp3"});
    helper->Enqueue({"c.wav"});
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 1; }));
    down = true;
    {
        std::lock_guard<std::mutex> lock(players[0]->mutex);
        players[0]->lost = true;
    }
    players.End(0)();
    ASSERT_TRUE(WaitUntil([&] { return CountOf(Log(), kOutage) == 1; }));
    Shutdown();
    EXPECT_GE(muting.restored.load(), 1);
    EXPECT_NE(Log().find("丢弃未播报的 2 条播报"), std::string::npos) << Log();
}

// The end path fails (here the player's close throws): the error is logged,
// busy is cleared so the play thread steps on, and the next announcement is
// spoken instead of the queue sticking for good.
TEST_F(PlayHelperTest, AnExceptionWhereAClipEndsDoesNotStickTheQueue) {
    FakePlayers players;
    m_makePlayer = players.Factory();
    PlayHelper* helper = Start();
    helper->Enqueue({"a.wav"});
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 1; }));
    players[0]->mutex.lock();
    players[0]->throwOnClose = true;
    players[0]->mutex.unlock();
    players.End(0)();
    // The end is handled on the play thread, which the callback only posts to.
    ASSERT_TRUE(WaitUntil([&] {
        return Log().find("发生异常 PlayHelper::OnPlayerMessage") != std::string::npos;
    })) << Log();
    ASSERT_TRUE(WaitUntil([&] { return !helper->IsBusy(); }));

    helper->Enqueue({"b.mp3"});
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 2; })) << Log();
    EXPECT_EQ(players.Played(0), (std::vector<std::string>{"a.wav", "b.mp3"}));
    players.End(0)();
    EXPECT_TRUE(WaitIdle(helper));
}

// A flood beyond the bound is dropped, with one error line per burst of drops
// however many it holds, and one line counting them when the queue has room again.
TEST_F(PlayHelperTest, TheQueueIsBoundedAndEachBurstOfDropsIsLoggedOnce) {
    constexpr size_t kHalf = PlayHelper::kMaxQueuedClips / 2;
    const Announcement half(kHalf, "tick.wav");
    FakePlayers players;
    m_makePlayer = players.Factory();
    PlayHelper* helper = Start();
    auto full = [&] { return CountOf(Log(), "播报队列已满"); };

    // The first announcement plays (and leaves the queue); two halves fill it.
    ASSERT_TRUE(helper->Enqueue({"a.wav"}));
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 1; }));
    EXPECT_TRUE(helper->Enqueue(half));
    EXPECT_TRUE(helper->Enqueue(half));
    EXPECT_FALSE(helper->Enqueue({"c.wav"}));
    EXPECT_FALSE(helper->Enqueue({}));
    EXPECT_FALSE(helper->Enqueue(half));
    EXPECT_EQ(helper->QueueLength(), 2u);
    EXPECT_EQ(full(), 1u) << Log();

    // A half is taken to be spoken: the queue is down to half, the burst is over.
    players.End(0)();
    ASSERT_TRUE(WaitUntil([&] { return players.Played(0).size() == 2; }));
    EXPECT_TRUE(helper->Enqueue({"c.wav"}));
    EXPECT_EQ(CountOf(Log(), "其间丢弃了 3 条播报"), 1u) << Log();
    EXPECT_FALSE(helper->Enqueue(half));
    EXPECT_FALSE(helper->Enqueue(half));
    EXPECT_EQ(full(), 2u) << "a new burst says so once more";
    EXPECT_EQ(helper->QueueLength(), 2u);
}

// A run cut short by a lost device leaves nothing opened ahead on the lost
// player; the new one opens ahead for itself.
TEST_F(PlayHelperTest, ALostDeviceDropsTheClipOpenedAheadOnIt) {
    FakePlayers players;
    m_makePlayer = players.Factory();
    PlayHelper* helper = Start();
    const std::shared_ptr<FakeRecord> record = players[0];
    helper->Enqueue({"a.wav", "b.mp3", "c.wav"});
    auto ahead = [&] {
        std::lock_guard<std::mutex> lock(record->mutex);
        return record->ahead;
    };
    ASSERT_TRUE(WaitUntil([&] { return ahead() == "b.mp3"; }));
    AudioPlayer::EndCallback end;
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        record->lost = true;
        end = record->end;
    }
    end();
    ASSERT_TRUE(WaitUntil([&] { return players.Made() == 2 && players.Played(1).size() == 1; }));
    EXPECT_EQ(ahead(), "");
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        EXPECT_EQ(record->played, std::vector<std::string>{"a.wav"});
    }
    std::lock_guard<std::mutex> lock(players[1]->mutex);
    EXPECT_EQ(players[1]->ahead, "c.wav");
}

// Each clip after the first is opened ahead while the one before plays; every
// one is still played once, and nothing decoded is held once the queue is dry.
TEST_F(PlayHelperTest, ClipsOpenedAheadArePlayedOnceAndFreed) {
    PlayHelper* helper = Start();
    helper->Enqueue({"a.wav", "b.mp3"});
    helper->Enqueue({"c.wav", "missing.wav", "a.wav"});
    helper->Enqueue({"b.mp3"});
    ASSERT_TRUE(WaitIdle(helper));
    std::vector<std::string> events = Events();
    // The library's error text follows the missing clip's path.
    const auto error = std::find(events.begin(), events.end(), "error missing.wav");
    ASSERT_TRUE(error != events.end() && error + 1 != events.end());
    events.erase(error + 1);
    EXPECT_EQ(events, (std::vector<std::string>{"play a.wav", "end", "play b.mp3", "end",
                                                "play c.wav", "end", "error missing.wav",
                                                "play a.wav", "end", "play b.mp3", "end"}));
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 0);
}

// Shutdown while a clip plays and the next one is opened ahead: the next one
// is never played, and nothing decoded is left.
TEST_F(PlayHelperTest, ShutdownWithTheNextClipOpenedAheadFreesIt) {
    ASSERT_TRUE(MakeToneClip(m_audio + "long.wav", 30));
    PlayHelper* helper = Start();
    helper->Enqueue({"long.wav", "a.wav"});
    ASSERT_TRUE(WaitUntil([] { return SdlAudioPlayer::DecodersHeld() == 2; }))
        << "long.wav open and a.wav opened ahead";
    Shutdown();
    EXPECT_EQ(SdlAudioPlayer::DecodersHeld(), 0);
    EXPECT_EQ(Events(), std::vector<std::string>{"play long.wav"});
}

TEST_F(PlayHelperTest, SetVolumeTakesPercentUpTo100) {
    PlayHelper* helper = Start();
    const std::vector<std::pair<unsigned, bool>> cases = {
        {0, true}, {100, true}, {101, false}, {4294967295u, false}, {37, true}};
    for (const auto& [volume, accepted] : cases) {
        EXPECT_EQ(helper->SetVolume(volume), accepted) << volume;
        EXPECT_EQ(Log().find("PlayHelper::SetVolume " + std::to_string(volume) + "\n") !=
                      std::string::npos,
                  accepted)
            << volume;
    }
}

// Announcements keep arriving from another thread while others are spoken:
// every one is spoken once, in order, and the run ends.
TEST_F(PlayHelperTest, AFloodIsSpokenWholeAndInOrder) {
    PlayHelper* helper = Start();
    constexpr int kCount = 60;
    std::thread cashier([helper] {
        for (int i = 0; i < kCount; ++i) {
            helper->Enqueue(i % 2 == 0 ? Announcement{"tick.wav"} : Announcement{"a.wav"});
        }
    });
    cashier.join();
    ASSERT_TRUE(WaitIdle(helper));
    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i) {
        expected.push_back(i % 2 == 0 ? "play tick.wav" : "play a.wav");
        expected.push_back("end");
    }
    EXPECT_EQ(Events(), expected);
}

TEST_F(PlayHelperTest, ShutdownMidClipReturnsAndLeavesTheRestUnspoken) {
    PlayHelper* helper = Start();
    ASSERT_TRUE(MakeToneClip(m_audio + "long.wav", 30));
    helper->Enqueue({"long.wav", "a.wav"});
    helper->Enqueue({"c.wav"});
    for (int i = 0; i < 600 && !helper->IsBusy(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(helper->IsBusy());
    m_thread->Stop();
    EXPECT_FALSE(m_thread->Running());
    Shutdown();
    EXPECT_EQ(Events(), std::vector<std::string>{"play long.wav"});
}
}  // namespace
