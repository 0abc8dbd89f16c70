#include "app/IniHelper.h"

#include <string>

#include "app/Helpers.h"
#include "app/IniFile.h"
#include "app/LogHelper.h"

namespace {
IniHelper* s_instance = nullptr;
const char* const kSection = "WebSetting";
// The old program read Url into a buffer of 260 wide characters.
const size_t kUrlMax = 259;
}  // namespace

IniHelper* IniHelper::GetInstance() {
    if (s_instance == nullptr) {
        s_instance = new IniHelper();
        s_instance->Load();
    }
    return s_instance;
}

IniHelper* IniHelper::Peek() {
    return s_instance;
}

void IniHelper::Destroy() {
    if (s_instance == nullptr) {
        return;
    }
    s_instance->SaveVolume();
    s_instance->SaveShield();
    delete s_instance;
    s_instance = nullptr;
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
    int volume = ini.ReadInt(kSection, "volume", 100);
    if (volume > 100) {
        volume = 100;
    } else if (volume < 0) {
        volume = 0;
    }
    m_settings.volume = volume;
    m_settings.shield = ini.ReadInt(kSection, "shield", 1) != 0;
}

void IniHelper::SetVolume(int v) {
    try {
        m_settings.volume = v > 100 ? 100 : v;
        IniFile(WideToUtf8(m_settings.settingsPath))
            .WriteString(kSection, "volume", std::to_string(m_settings.volume));
    } catch (...) {
        m_settings.volume = 100;
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SetVolume.");
    }
}

void IniHelper::SaveVolume() {
    try {
        if (m_settings.volume > 100) {
            m_settings.volume = 100;
        }
        IniFile(WideToUtf8(m_settings.settingsPath))
            .WriteString(kSection, "volume", std::to_string(m_settings.volume));
    } catch (...) {
        m_settings.volume = 100;
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SaveVolume.");
    }
}

void IniHelper::SaveShield() {
    try {
        IniFile(WideToUtf8(m_settings.settingsPath))
            .WriteString(kSection, "shield", m_settings.shield ? "1" : "0");
    } catch (...) {
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SaveShield.");
    }
}
