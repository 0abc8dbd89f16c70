// The text of ShieldLevels.txt: what a lowering saved comes back whole from
// it, keys and devices with tabs, line ends or backslashes included, and lines
// a hand edit broke are passed over rather than taken wrongly.
#include <gtest/gtest.h>

#include "voice/SavedLevels.h"

namespace {
SavedLevels Sample() {
    SavedLevels saved;
    PulseStream music;
    music.index = 17;
    music.processId = 4242;
    music.volume = {16384, 49152};
    music.channelMap = "front-left,front-right";
    music.restoreKey = "sink-input-by-application-name:Music\tPlayer\\2\nbeta";
    saved.streams[music.index] = music;
    PulseStream effects = music;
    effects.index = 18;
    effects.volume = {65536, 65536};
    saved.streams[effects.index] = effects;
    saved.remembered[music.restoreKey] = {
        music.restoreKey, {39322, 39322}, music.channelMap, true, "alsa_output.pci\t1"};
    saved.remembered["sink-input-by-media-role:event"] = {
        "sink-input-by-media-role:event", {}, "", false, ""};
    return saved;
}

TEST(SavedLevelsTest, TheTextGivesBackEverythingSaved) {
    const SavedLevels saved = Sample();
    const SavedLevels read = SavedLevels::FromText(saved.ToText());
    ASSERT_EQ(read.streams.size(), 2u);
    for (const auto& [index, stream] : saved.streams) {
        const PulseStream& back = read.streams.at(index);
        EXPECT_EQ(back.processId, stream.processId);
        EXPECT_EQ(back.volume, stream.volume);
        EXPECT_EQ(back.channelMap, stream.channelMap);
        EXPECT_EQ(back.restoreKey, stream.restoreKey);
    }
    EXPECT_EQ(read.remembered, saved.remembered);
}

TEST(SavedLevelsTest, LinesThatCannotBeReadArePassedOver) {
    const std::string text =
        "# a comment\n"
        "stream\t5\t100\t32768,32768\tfront-left,front-right\tsink-input-by-application-name:A\r\n"
        "stream\tfive\t100\t32768\tmono\tkey\n"  // index no number
        "stream\t6\t100\t\tmono\tkey\n"          // no level
        "stream\t7\t100\t1,x\tmono\tkey\n"       // level no number
        "stream\t8\t100\t1\tmono\n"              // field missing
        "remembered\t1\tmono\t2\t\tkey\n"        // muted neither 0 nor 1
        "remembered\t1\tmono\t0\t\t\n"           // no key
        "volume\t9\n"                            // unknown kind
        "remembered\t\t\t0\t\tsink-input-by-media-role:event\n";
    const SavedLevels read = SavedLevels::FromText(text);
    ASSERT_EQ(read.streams.size(), 1u);
    EXPECT_EQ(read.streams.at(5).volume, (std::vector<uint32_t>{32768, 32768}));
    EXPECT_EQ(read.streams.at(5).restoreKey, "sink-input-by-application-name:A");
    ASSERT_EQ(read.remembered.size(), 1u);
    EXPECT_TRUE(read.remembered.at("sink-input-by-media-role:event").volume.empty());
}

TEST(SavedLevelsTest, AStreamOfALoweredProgramGetsTheLevelRememberedBeforeElseItsFirstStreams) {
    SavedLevels saved = Sample();
    const std::string key = saved.streams.at(17).restoreKey;
    EXPECT_EQ(saved.LevelFor(key, 2), (std::vector<uint32_t>{39322, 39322}));
    EXPECT_EQ(saved.LevelFor(key, 1), (std::vector<uint32_t>{39322})) << "the loudest on all";
    saved.remembered.at(key).volume.clear();
    EXPECT_EQ(saved.LevelFor(key, 2), (std::vector<uint32_t>{16384, 49152}));
    EXPECT_TRUE(saved.LevelFor("sink-input-by-application-name:other", 2).empty());
    EXPECT_TRUE(saved.LevelFor("", 2).empty());
}
}  // namespace
