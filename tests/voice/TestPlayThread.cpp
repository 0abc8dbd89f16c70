// The play thread: owned, started once, joined by Stop (also out of its
// sleep), and able to start again; it speaks what is queued while it runs,
// woken by what is posted to it, and sleeps without waking while idle.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "support/PlayHelperFixture.h"
#include "support/TempProgramDir.h"
#include "support/ToneClip.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"

using namespace std::chrono_literals;

namespace {
class PlayThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::filesystem::create_directories(m_dir.File("Audio"));
        ASSERT_TRUE(MakeToneClip(m_dir.File("Audio/a.wav"), 0.1));
    }

    TempProgramDir m_dir;
    // Made after the folder, released before it; no audio server, no muting.
    PlayHelper m_helper{PlayHelper::Options{}};
};

TEST_F(PlayThreadTest, StartsOnceStopsAndStartsAgain) {
    PlayThread thread(m_helper);
    EXPECT_FALSE(thread.Running());
    thread.Stop();  // stopping what never ran is harmless
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(thread.Start());
        EXPECT_TRUE(thread.Running());
        EXPECT_FALSE(thread.Start()) << "one thread at a time";
        PlayHelper* helper = &m_helper;
        helper->Enqueue({"a.wav"});
        ASSERT_TRUE(WaitIdle(helper));
        auto stopped = std::async(std::launch::async, [&thread] { thread.Stop(); });
        ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        EXPECT_FALSE(thread.Running());
    }
}

TEST_F(PlayThreadTest, NothingIsStartedWhileStopped) {
    PlayThread thread(m_helper);
    ASSERT_TRUE(thread.Start());
    thread.Stop();
    PlayHelper* helper = &m_helper;
    helper->Enqueue({"a.wav"});
    // Without the thread nobody starts the run; starting it again does.
    EXPECT_EQ(helper->QueueLength(), 1u);
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_EQ(helper->QueueLength(), 0u);
}

struct WakeCase {
    const char* name;
    Announcement announcement;
};

void PrintTo(const WakeCase& c, std::ostream* os) {
    *os << c.name;
}

class PlayThreadWake : public PlayThreadTest, public ::testing::WithParamInterface<WakeCase> {};

// The thread has no pass of its own: only what is posted to it starts a run,
// or goes on after a clip that did not start. Each round queues from idle,
// the first one right after the start, while the thread may still be in its
// first pass.
TEST_P(PlayThreadWake, WhatIsQueuedFromIdleIsSpoken) {
    PlayThread thread(m_helper);
    ASSERT_TRUE(thread.Start());
    PlayHelper* helper = &m_helper;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        helper->Enqueue(GetParam().announcement);
        ASSERT_TRUE(WaitIdle(helper)) << "left waiting";
        EXPECT_EQ(helper->QueueLength(), 0u);
    }
    thread.Stop();
}

INSTANTIATE_TEST_SUITE_P(Posts, PlayThreadWake,
                         ::testing::Values(WakeCase{"AnAnnouncementWakesTheThread", {"a.wav"}},
                                           WakeCase{"AClipThatDoesNotStartGoesOnAtOnce",
                                                    {"gone.wav", "a.wav"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The thread's id in /proc, found by its name; 0 when there is none.
pid_t ThreadNamed(const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string found;
        if (std::getline(comm, found) && found == name) {
            return static_cast<pid_t>(std::stol(entry.path().filename().string()));
        }
    }
    return 0;
}

// How often the thread gave up the processor of its own accord: each time it
// went to sleep and was woken.
long VoluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(key.size()));
        }
    }
    return -1;
}

// Idle means asleep: after a run has ended, the play thread is not woken at
// all for seconds on end, by the kernel's count and by its own. The check is
// what happens, not how fast: a thread that polls at any rate fails it.
TEST_F(PlayThreadTest, AnIdleThreadIsNeverWoken) {
    PlayThread thread(m_helper);
    ASSERT_TRUE(thread.Start());
    PlayHelper* helper = &m_helper;
    helper->Enqueue({"a.wav"});
    ASSERT_TRUE(WaitIdle(helper));
    const pid_t tid = ThreadNamed("voice-play");
    ASSERT_NE(tid, 0);
    // Settled: the pass that ended the run has gone back to sleep.
    std::this_thread::sleep_for(300ms);
    const long switches = VoluntarySwitches(tid);
    const uint64_t passes = helper->PlayLoopPasses();
    ASSERT_GE(switches, 0);
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(VoluntarySwitches(tid), switches);
    EXPECT_EQ(helper->PlayLoopPasses(), passes);

    // And still awake to what is posted.
    helper->Enqueue({"a.wav"});
    ASSERT_TRUE(WaitIdle(helper));
    EXPECT_GT(helper->PlayLoopPasses(), passes);
    thread.Stop();
}
}  // namespace
