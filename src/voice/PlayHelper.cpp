#include "voice/PlayHelper.h"

#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "voice/AudioPlayer.h"

namespace {
PlayHelper* s_instance = nullptr;
}  // namespace

PlayHelper* PlayHelper::GetInstance() {
    if (s_instance == nullptr) {
        try {
            s_instance = new PlayHelper();
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 PlayHelper::GetInstance");
        }
    }
    return s_instance;
}

PlayHelper* PlayHelper::Peek() {
    return s_instance;
}

void PlayHelper::Destroy() {
    delete s_instance;
    s_instance = nullptr;
}

PlayHelper::PlayHelper() : m_audioDir(GetAudioDir()) {}

PlayHelper::~PlayHelper() = default;

void PlayHelper::Enqueue(const Announcement& announcement) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_queue.push_back(announcement);
}

size_t PlayHelper::QueueLength() {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_queue.size();
}
