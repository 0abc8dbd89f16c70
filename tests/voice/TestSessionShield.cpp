// The Windows lowering (SessionShield over CoreAudioSessions) against a double
// of Core Audio's interfaces: Wine lists no other program's sessions, so the
// double stands in for the endpoints and the sessions on them.
#include <gtest/gtest.h>

#include <string>

#include "support/coreaudio/DoubleDeviceEnumerator.h"
#include "support/coreaudio/DoubleEndpoint.h"
#include "support/coreaudio/DoubleSession.h"
#include "support/coreaudio/DoubleSessionManager.h"
#include "voice/CoreAudioSessions.h"
#include "voice/SavedSessionLevels.h"
#include "voice/SessionShield.h"

using Microsoft::WRL::ComPtr;

namespace {
constexpr uint32_t kSelf = 4242;

// The levels file as what it holds, and whether it is there.
class KeptLevels : public LevelsFile {
public:
    bool Write(const std::string& text) override {
        this->text = text;
        kept = true;
        return true;
    }
    void Remove() override {
        text.clear();
        kept = false;
    }

    std::string text;
    bool kept = false;
};

ComPtr<DoubleSession> Session(const wchar_t* instance, const wchar_t* program, uint32_t pid,
                              float level, bool muted = false) {
    return MakeDouble<DoubleSession>(instance, program, pid, level, muted);
}

class SessionShieldTest : public ::testing::Test {
protected:
    SessionShieldTest() {
        enumerator->endpoints = {speakers, headset};
        speakers->manager->sessions = {player, playerSecond, browser, own, system};
        headset->manager->sessions = {call};
        system->systemSounds = true;
    }

    DoubleSessionManager& Speakers() { return *speakers->manager.Get(); }

    ComPtr<DoubleDeviceEnumerator> enumerator = MakeDouble<DoubleDeviceEnumerator>();
    ComPtr<DoubleEndpoint> speakers = MakeDouble<DoubleEndpoint>();
    ComPtr<DoubleEndpoint> headset = MakeDouble<DoubleEndpoint>();
    // One program with two sessions at different levels, another muted one,
    // a program on the second endpoint, ours, and the system sounds.
    ComPtr<DoubleSession> player = Session(L"player#1", L"player", 100, 0.8f);
    ComPtr<DoubleSession> playerSecond = Session(L"player#2", L"player", 100, 0.3f);
    ComPtr<DoubleSession> browser = Session(L"browser#1", L"browser", 200, 0.5f, true);
    ComPtr<DoubleSession> call = Session(L"call#1", L"call", 300, 0.6f);
    ComPtr<DoubleSession> own = Session(L"own#1", L"own", kSelf, 0.9f);
    ComPtr<DoubleSession> system = Session(L"system#1", L"system", 0, 0.7f);

    CoreAudioSessions sessions{enumerator.Get()};
    KeptLevels file;
    SessionShield shield{file, kSelf};
};

TEST_F(SessionShieldTest, LowersEveryOtherSessionAndGivesEachItsOwnLevel) {
    shield.Lower(sessions);

    EXPECT_EQ(player->level, 0.0f);
    EXPECT_EQ(playerSecond->level, 0.0f);
    EXPECT_EQ(browser->level, 0.0f);
    EXPECT_EQ(call->level, 0.0f);
    EXPECT_TRUE(browser->muted);
    EXPECT_EQ(own->levelsSet, 0);
    EXPECT_EQ(system->levelsSet, 0);
    EXPECT_EQ(SavedSessionLevels::FromText(file.text).sessions.size(), 4u);

    EXPECT_TRUE(shield.Restore(sessions));

    EXPECT_EQ(player->level, 0.8f);
    EXPECT_EQ(playerSecond->level, 0.3f);
    EXPECT_EQ(browser->level, 0.5f);
    EXPECT_TRUE(browser->muted);
    EXPECT_EQ(call->level, 0.6f);
    EXPECT_EQ(own->level, 0.9f);
    EXPECT_FALSE(file.kept);
}

TEST_F(SessionShieldTest, KeepsTheLevelsBeforeAnySessionIsLowered) {
    std::string keptAtFirstLowering;
    player->onSetLevel = [&](float) { keptAtFirstLowering = file.text; };

    shield.Lower(sessions);

    const SavedSessionLevels kept = SavedSessionLevels::FromText(keptAtFirstLowering);
    ASSERT_EQ(kept.sessions.size(), 4u);
    CoreAudioSession probe;
    probe.instanceId = "player#2";
    probe.processId = 100;
    ASSERT_NE(kept.Find(probe), nullptr);
    EXPECT_EQ(kept.Find(probe)->level, 0.3f);
}

TEST_F(SessionShieldTest, SessionsThatWentMeanwhileAreNoFailure) {
    shield.Lower(sessions);
    Speakers().sessions = {player, browser, own, system};  // the second one ended
    browser->state = AudioSessionStateExpired;
    call->setResult = AUDCLNT_E_DEVICE_INVALIDATED;

    EXPECT_TRUE(shield.Restore(sessions));

    EXPECT_EQ(player->level, 0.8f);
    EXPECT_FALSE(file.kept);
}

TEST_F(SessionShieldTest, AnEndpointGoneWithItsSessionsIsNoFailure) {
    shield.Lower(sessions);
    headset->activateResult = AUDCLNT_E_DEVICE_INVALIDATED;

    EXPECT_TRUE(shield.Restore(sessions));

    EXPECT_EQ(player->level, 0.8f);
    EXPECT_FALSE(file.kept);
}

TEST_F(SessionShieldTest, AnEndpointOutOfReachKeepsTheLevelsForTheNextTry) {
    shield.Lower(sessions);
    headset->activateResult = E_FAIL;

    EXPECT_FALSE(shield.Restore(sessions));
    EXPECT_TRUE(file.kept);
    EXPECT_EQ(call->level, 0.0f);

    headset->activateResult = S_OK;
    EXPECT_TRUE(shield.Restore(sessions));
    EXPECT_EQ(call->level, 0.6f);
    EXPECT_FALSE(file.kept);
}

TEST_F(SessionShieldTest, ASessionThatRefusesItsLevelKeepsTheLevels) {
    shield.Lower(sessions);
    player->setResult = E_FAIL;

    EXPECT_FALSE(shield.Restore(sessions));
    EXPECT_TRUE(file.kept);
    EXPECT_EQ(playerSecond->level, 0.3f);  // the others are back already
}

TEST_F(SessionShieldTest, NoEnumeratorLowersNothingAndRestoreFails) {
    CoreAudioSessions none(nullptr);
    shield.Lower(none);
    EXPECT_FALSE(file.kept);

    shield.Lower(sessions);
    EXPECT_FALSE(shield.Restore(none));
    EXPECT_TRUE(file.kept);
}

TEST_F(SessionShieldTest, ASessionOpenedWhileLoweredIsKeptLoweredAndGivenBack) {
    shield.Lower(sessions);
    const ComPtr<DoubleSession> late = Session(L"late#1", L"late", 400, 0.45f);
    std::string keptAtLowering;
    late->onSetLevel = [&](float) { keptAtLowering = file.text; };

    Speakers().Open(late);

    EXPECT_EQ(late->level, 0.0f);
    EXPECT_NE(keptAtLowering.find("late#1"), std::string::npos);
    EXPECT_TRUE(shield.Restore(sessions));
    EXPECT_EQ(late->level, 0.45f);
}

TEST_F(SessionShieldTest, NoSessionIsWatchedAfterTheRestore) {
    shield.Lower(sessions);
    ASSERT_EQ(Speakers().Registered(), 1u);
    EXPECT_TRUE(shield.Restore(sessions));
    EXPECT_EQ(Speakers().Registered(), 0u);

    const ComPtr<DoubleSession> after = Session(L"after#1", L"after", 500, 0.7f);
    Speakers().Open(after);
    EXPECT_EQ(after->level, 0.7f);
}

TEST_F(SessionShieldTest, ANewSessionAtTheRememberedZeroGetsItsProgramsLevel) {
    shield.Lower(sessions);
    // Windows remembered the lowering's 0 for the player: its next session
    // starts there, opened while lowered or unseen.
    const ComPtr<DoubleSession> seen = Session(L"player#3", L"player", 101, 0.0f);
    Speakers().Open(seen);
    const ComPtr<DoubleSession> unseen = Session(L"player#4", L"player", 102, 0.0f);
    Speakers().sessions.push_back(unseen);

    EXPECT_TRUE(shield.Restore(sessions));

    EXPECT_EQ(seen->level, 0.8f);
    EXPECT_EQ(unseen->level, 0.8f);
}

TEST_F(SessionShieldTest, OurOwnNewSessionIsLeftAlone) {
    shield.Lower(sessions);
    const ComPtr<DoubleSession> ours = Session(L"own#2", L"own", kSelf, 1.0f);
    Speakers().Open(ours);
    EXPECT_EQ(ours->levelsSet, 0);
}

TEST_F(SessionShieldTest, ListingRefusedAsUnderWineLowersNothing) {
    Speakers().listResult = E_NOTIMPL;
    headset->manager->listResult = E_NOTIMPL;

    shield.Lower(sessions);

    EXPECT_FALSE(file.kept);
    EXPECT_EQ(player->levelsSet, 0);
    EXPECT_TRUE(shield.Restore(sessions));
}

TEST_F(SessionShieldTest, ARestoreThatFailedIsNotOverwrittenByItsZeros) {
    shield.Lower(sessions);
    headset->activateResult = E_FAIL;
    EXPECT_FALSE(shield.Restore(sessions));
    headset->activateResult = S_OK;

    shield.Lower(sessions);  // tries the restore, then lowers again
    EXPECT_TRUE(shield.Restore(sessions));

    EXPECT_EQ(player->level, 0.8f);
    EXPECT_EQ(call->level, 0.6f);
}

TEST_F(SessionShieldTest, WhatACrashLeftIsGivenBackAtTheNextStart) {
    shield.Lower(sessions);
    const std::string left = file.text;

    KeptLevels nextFile;
    nextFile.Write(left);
    SessionShield next(nextFile, kSelf + 1);
    next.Adopt(SavedSessionLevels::FromText(left));
    EXPECT_TRUE(next.Restore(sessions));

    EXPECT_EQ(player->level, 0.8f);
    EXPECT_EQ(call->level, 0.6f);
    EXPECT_FALSE(nextFile.kept);
}
}  // namespace
