#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "support/TempProgramDir.h"
#include "voice/OthersMuting.h"
#include "voice/PlayHelper.h"
#include "voice/PlayThread.h"

// True once the play queue has run dry and its run ended; false when that did
// not happen within a minute (a guard against hanging, not a speed check).
bool WaitIdle(PlayHelper* helper);

// The play queue in a program folder of its own, for tests that speak through
// the real player: the folder's Audio/ folder is made and the debug log is on,
// so a test reads what was played from the log. Teardown joins the play thread
// and releases the queue before the folder goes. A test's own SetUp calls this
// one first, then makes its clips and chooses its audio driver and settings.
class PlayHelperFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The queue, made with m_makePlayer and m_shield, with the play thread started.
    PlayHelper* Start();
    // As the program's shutdown: the play thread joined, then the queue released.
    void Shutdown();
    // Everything the program logged so far.
    std::string Log() const { return m_dir.LogText(); }

    TempProgramDir m_dir;
    std::string m_audio;                     // "<folder>/Audio/"
    PlayHelper::PlayerFactory m_makePlayer;  // empty: the real player
    std::atomic<bool> m_shield{false};       // the user's switch as the queue reads it
    std::unique_ptr<OthersMuting> m_muting;  // empty: the real one; handed over by Start
    std::unique_ptr<PlayHelper> m_helper;
    std::unique_ptr<PlayThread> m_thread;
};
