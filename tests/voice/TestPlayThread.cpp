// The play thread: owned, started once, joined by Stop (also out of its pause),
// and able to start again; it speaks what is queued while it runs, woken at
// once when there is work, and still by its pass alone when no wake-up comes.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <future>

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
    std::chrono::milliseconds pass;
    bool hooked;  // the wrapper wakes the thread
    Announcement announcement;
};

void PrintTo(const WakeCase& c, std::ostream* os) {
    *os << c.name;
}

class PlayThreadWake : public PlayThreadTest, public ::testing::WithParamInterface<WakeCase> {};

// With a pass of an hour only the wake-up can start a run, or go on after a
// clip that did not start; without the hook the pass alone still does it.
// Each round queues from idle, the first one right after the start, while
// the thread may still be in its first pass.
TEST_P(PlayThreadWake, WhatIsQueuedFromIdleIsSpoken) {
    PlayThread thread(m_helper, GetParam().pass);
    ASSERT_TRUE(thread.Start());
    PlayHelper* helper = &m_helper;
    if (!GetParam().hooked) {
        helper->SetWakeHook(nullptr);
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        helper->Enqueue(GetParam().announcement);
        ASSERT_TRUE(WaitIdle(helper)) << "left waiting for a pass";
        EXPECT_EQ(helper->QueueLength(), 0u);
    }
    thread.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Passes, PlayThreadWake,
    ::testing::Values(WakeCase{"WokenWithAnHourLongPass", 1h, true, {"a.wav"}},
                      WakeCase{
                          "AClipThatDoesNotStartWakesTheThread", 1h, true, {"gone.wav", "a.wav"}},
                      WakeCase{"ThePassAloneWithoutTheHook", PlayThread::kPass, false, {"a.wav"}}),
    [](const auto& info) { return std::string(info.param.name); });
}  // namespace
