#include "voice/SavedSessionLevels.h"

#include <gtest/gtest.h>

namespace {
CoreAudioSession Make(const std::string& instance, const std::string& program, uint32_t pid,
                      float level, bool muted = false) {
    CoreAudioSession s;
    s.instanceId = instance;
    s.sessionId = program;
    s.processId = pid;
    s.level = level;
    s.muted = muted;
    return s;
}

TEST(SavedSessionLevels, ReadsBackWhatItWrote) {
    SavedSessionLevels saved;
    saved.Add(Make("{0.0.0.00000000}.{a}|\\Device\\HarddiskVolume3\\player.exe%b{1}|1%b100",
                   "{0.0.0.00000000}.{a}|\\Device\\HarddiskVolume3\\player.exe%b{1}", 100, 0.1f));
    saved.Add(Make("b#1", "b", 200, 0.73f, true));

    const SavedSessionLevels read = SavedSessionLevels::FromText(saved.ToText());

    ASSERT_EQ(read.sessions.size(), 2u);
    EXPECT_EQ(read.sessions[0].instanceId, saved.sessions[0].instanceId);
    EXPECT_EQ(read.sessions[0].sessionId, saved.sessions[0].sessionId);
    EXPECT_EQ(read.sessions[0].level, 0.1f);
    EXPECT_EQ(read.sessions[1].processId, 200u);
    EXPECT_EQ(read.sessions[1].level, 0.73f);
    EXPECT_TRUE(read.sessions[1].muted);
}

TEST(SavedSessionLevels, PassesOverLinesItCannotRead) {
    const std::string text =
        "session\t1\t0.5\t0\ta#1\ta\r\n"
        "session\tx\t0.5\t0\tb#1\tb\n"
        "session\t2\t1.5\t0\tc#1\tc\n"
        "session\t3\t0.5\t2\td#1\td\n"
        "session\t4\t0.5\t0\t\te\n"
        "stream\t5\t0.5\t0\tf#1\tf\n";

    const SavedSessionLevels read = SavedSessionLevels::FromText(text);

    ASSERT_EQ(read.sessions.size(), 1u);
    EXPECT_EQ(read.sessions[0].sessionId, "a");
}

TEST(SavedSessionLevels, KeepsTheFirstLevelOfASession) {
    SavedSessionLevels saved;
    EXPECT_TRUE(saved.Add(Make("a#1", "a", 1, 0.6f)));
    EXPECT_FALSE(saved.Add(Make("a#1", "a", 1, 0.0f)));
    EXPECT_TRUE(saved.Add(Make("a#1", "a", 2, 0.2f)));  // another process's

    EXPECT_EQ(saved.Find(Make("a#1", "", 1, 0))->level, 0.6f);
    EXPECT_EQ(saved.LevelFor("a"), 0.6f);
    EXPECT_FALSE(saved.LevelFor("b").has_value());
    EXPECT_FALSE(saved.LevelFor("").has_value());
}

TEST(SavedSessionLevels, IdentifiersThatWouldBreakALineAreNotStorable) {
    EXPECT_TRUE(SavedSessionLevels::Storable(Make("a#1", "a", 1, 1)));
    EXPECT_FALSE(SavedSessionLevels::Storable(Make("a\t1", "a", 1, 1)));
    EXPECT_FALSE(SavedSessionLevels::Storable(Make("a#1", "a\n", 1, 1)));
    EXPECT_FALSE(SavedSessionLevels::Storable(Make("", "a", 1, 1)));
}
}  // namespace
