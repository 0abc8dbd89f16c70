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
    Shutdown();
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

PlayHelper* PlayHelperFixture::Start() {
    m_helper = std::make_unique<PlayHelper>(PlayHelper::Options{
        m_makePlayer, [this] { return m_shield.load(); }, 100, std::move(m_muting)});
    m_thread = std::make_unique<PlayThread>(*m_helper);
    EXPECT_TRUE(m_thread->Start());
    return m_helper.get();
}

void PlayHelperFixture::Shutdown() {
    if (m_thread) {
        m_thread->Stop();
    }
    m_thread.reset();
    m_helper.reset();
}
