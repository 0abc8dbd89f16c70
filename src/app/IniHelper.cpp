#include "app/IniHelper.h"

#include <atomic>
#include <mutex>
#include <string>

#include "app/Helpers.h"
#include "app/IniFile.h"
#include "app/LogHelper.h"

namespace {
// Threads may log (or read settings) before start-up has created the
// instance; the lock makes sure only one is ever made.
std::atomic<IniHelper*> s_instance{nullptr};
std::mutex s_createMutex;
const char* const kSection = "WebSetting";
// The old program read Url into a buffer of 260 wide characters.
const size_t kUrlMax = 259;

// The record holds 0..100 only: the file is written without a sign, and the
// player takes nothing else.
int Clamp(int v) {
    return v > 100 ? 100 : (v < 0 ? 0 : v);
}

// The settings stay in memory whatever the disk does; a failed write is only
// worth a line in the log.
void Write(const AppSettings& settings, const char* key, const std::string& value) {
    if (!IniFile(WideToUtf8(settings.settingsPath)).WriteString(kSection, key, value)) {
        LogHelper::GetInstance()->Error(std::string("写入Setting.ini失败: ") + key);
    }
}

}  // namespace

IniHelper* IniHelper::GetInstance() {
    IniHelper* instance = s_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
        const std::lock_guard<std::mutex> lock(s_createMutex);
        instance = s_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new IniHelper();
            instance->Load();
            s_instance.store(instance, std::memory_order_release);
        }
    }
    return instance;
}

IniHelper* IniHelper::Peek() {
    return s_instance.load(std::memory_order_acquire);
}

void IniHelper::Destroy() {
    const std::lock_guard<std::mutex> lock(s_createMutex);
    IniHelper* instance = s_instance.load(std::memory_order_relaxed);
    if (instance == nullptr) {
        return;
    }
    instance->SaveVolume();
    instance->SaveShield();
    s_instance.store(nullptr, std::memory_order_release);
    delete instance;
}

IniHelper::IniHelper() = default;
IniHelper::~IniHelper() = default;

void IniHelper::Load() {
    m_settings.settingsPath = GetModuleDir() + L"Setting.ini";
    const IniFile ini(WideToUtf8(m_settings.settingsPath));
    std::wstring url = Utf8ToWide(ini.ReadString(kSection, "Url", ""));
    if (url.size() > kUrlMax) {
        url.resize(kUrlMax);
    }
    m_settings.url = WideToUtf8(url);
    m_settings.timeOut = ini.ReadInt(kSection, "TimeOut", 0);
    m_settings.debug = ini.ReadInt(kSection, "debug", 0) != 0;
    m_settings.volume = Clamp(ini.ReadInt(kSection, "volume", 100));
    m_settings.shield = ini.ReadInt(kSection, "shield", 1) != 0;
}

void IniHelper::SetVolume(int v) {
    try {
        m_settings.volume = Clamp(v);
        Write(m_settings, "volume", std::to_string(m_settings.volume));
    } catch (...) {
        m_settings.volume = 100;
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SetVolume.");
    }
}

void IniHelper::SaveVolume() {
    try {
        m_settings.volume = Clamp(m_settings.volume);
        Write(m_settings, "volume", std::to_string(m_settings.volume));
    } catch (...) {
        m_settings.volume = 100;
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SaveVolume.");
    }
}

void IniHelper::SaveShield() {
    try {
        Write(m_settings, "shield", m_settings.shield ? "1" : "0");
    } catch (...) {
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SaveShield.");
    }
}
