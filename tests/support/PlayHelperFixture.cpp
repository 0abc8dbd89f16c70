#include "support/PlayHelperFixture.h"

#include <stdlib.h>

#include <filesystem>

#include "app/IniHelper.h"
#include "support/WaitUntil.h"

bool WaitIdle(PlayHelper* helper) {
    return WaitUntil([helper] { return helper->IsIdle() && !helper->IsBusy(); });
}

void PlayHelperFixture::SetUp() {
    m_audio = m_dir.File("Audio/");
    std::filesystem::create_directories(m_audio);
    IniHelper::GetInstance()->Settings().debug = true;
}

void PlayHelperFixture::TearDown() {
    m_thread.Stop();
    PlayHelper::Destroy();
    PlayHelper::SetPlayerFactory(nullptr);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

PlayHelper* PlayHelperFixture::Start() {
    PlayHelper* helper = PlayHelper::GetInstance();
    EXPECT_NE(helper, nullptr);
    EXPECT_TRUE(m_thread.Start());
    return helper;
}
