#pragma once

#include "app/AppSettings.h"

// Owner of the settings record. Loaded once on first use from Setting.ini in the
// program folder (which loading never creates); only the volume and the shield
// switch are ever written back.
class IniHelper {
public:
    static IniHelper* GetInstance();
    // The instance if it exists, without creating it.
    static IniHelper* Peek();
    // Shutdown: saves volume, then shield, and releases the instance.
    static void Destroy();

    // The volume as the record holds it: 0..100, the nearer end for anything
    // outside (the file is written without a sign, the player takes no more).
    static int ClampVolume(int volume);

    AppSettings& Settings() { return m_settings; }
    const AppSettings& Settings() const { return m_settings; }

    // Stores v, clamped to 0..100, and writes it at once.
    void SetVolume(int v);
    // Clamps the volume to 0..100 and writes it.
    void SaveVolume();
    // Writes the shield switch from the record.
    void SaveShield();

    IniHelper(const IniHelper&) = delete;
    IniHelper& operator=(const IniHelper&) = delete;

private:
    // Its one instance is made and released there.
    template <class>
    friend class SingletonSlot;
    IniHelper();
    ~IniHelper();
    void Load();

    AppSettings m_settings;
};
