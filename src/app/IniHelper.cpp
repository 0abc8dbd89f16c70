#include "app/IniHelper.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "app/Helpers.h"
#include "app/IniFile.h"
#include "app/LogHelper.h"
#include "app/SingletonSlot.h"

namespace {
SingletonSlot<IniHelper> s_slot;
const char* const kSection = "WebSetting";
// The old program read Url into a buffer of 260 wide characters.
const size_t kUrlMax = 259;

// The settings stay in memory whatever the disk does; a failed write is only
// worth a line in the log.
void Write(const AppSettings& settings, const char* key, const std::string& value) {
    if (!IniFile(WideToUtf8(settings.settingsPath)).WriteString(kSection, key, value)) {
        LogHelper::GetInstance()->Error(std::string("写入Setting.ini失败: ") + key);
    }
}

}  // namespace

int IniHelper::ClampVolume(int volume) {
    return std::clamp(volume, 0, 100);
}

IniHelper* IniHelper::GetInstance() {
    return s_slot.GetOrCreate([] {
        auto* instance = new IniHelper();
        instance->Load();
        return instance;
    });
}

IniHelper* IniHelper::Peek() {
    return s_slot.Peek();
}

void IniHelper::Destroy() {
    s_slot.Destroy([](IniHelper& instance) {
        instance.SaveVolume();
        instance.SaveShield();
    });
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
    m_settings.volume = ClampVolume(ini.ReadInt(kSection, "volume", 100));
    m_settings.shield = ini.ReadInt(kSection, "shield", 1) != 0;
}

void IniHelper::SetVolume(int v) {
    try {
        m_settings.volume = ClampVolume(v);
        Write(m_settings, "volume", std::to_string(m_settings.volume));
    } catch (...) {
        m_settings.volume = 100;
        LogHelper::GetInstance()->Error("异常发生 IniHelper::SetVolume.");
    }
}

void IniHelper::SaveVolume() {
    try {
        m_settings.volume = ClampVolume(m_settings.volume);
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
