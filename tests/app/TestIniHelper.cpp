#include <gtest/gtest.h>

#include <string>

#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "support/TempProgramDir.h"

namespace {

struct LoadCase {
    const char* name;
    std::string file;  // empty: no settings file
    std::string url;
    int timeOut;
    bool debug;
    int volume;
    bool shield;
};

class SettingsLoad : public ::testing::TestWithParam<LoadCase> {
protected:
    TempProgramDir m_dir;
};

TEST_P(SettingsLoad, GivesTheRecord) {
    if (!GetParam().file.empty()) {
        m_dir.Write("Setting.ini", GetParam().file);
    }
    const AppSettings& s = IniHelper::GetInstance()->Settings();
    EXPECT_EQ(WideToUtf8(s.settingsPath), m_dir.File("Setting.ini"));
    EXPECT_EQ(s.url, GetParam().url);
    EXPECT_EQ(s.timeOut, GetParam().timeOut);
    EXPECT_EQ(s.debug.load(), GetParam().debug);
    EXPECT_EQ(s.volume, GetParam().volume);
    EXPECT_EQ(s.shield.load(), GetParam().shield);
    EXPECT_EQ(s.storeId, "");
    EXPECT_FALSE(s.wxOpen);
    // Loading alone never creates or changes the file.
    EXPECT_EQ(m_dir.Read("Setting.ini"), GetParam().file);
    EXPECT_EQ(m_dir.Exists("Setting.ini"), !GetParam().file.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsLoad,
    ::testing::Values(
        LoadCase{"NoFile", "", "", 0, false, 100, true},
        LoadCase{"NoSection", "[Other]\nvolume=5\n", "", 0, false, 100, true},
        LoadCase{"AllKeys",
                 "[WebSetting]\r\nUrl=http://127.0.0.1:8080\r\nTimeOut=30\r\ndebug=1\r\n"
                 "volume=75\r\nshield=0\r\n",
                 "http://127.0.0.1:8080", 30, true, 75, false},
        LoadCase{"VolumeAboveRange", "[WebSetting]\nvolume=250\n", "", 0, false, 100, true},
        LoadCase{"VolumeBelowRange", "[WebSetting]\nvolume=-3\n", "", 0, false, 0, true},
        LoadCase{"AnyNonZeroIsOn", "[WebSetting]\nshield=2\ndebug=-1\n", "", 0, true, 100, true},
        LoadCase{"WordsReadZero", "[WebSetting]\ndebug=yes\nshield=on\nvolume=loud\n", "", 0, false,
                 0, false},
        LoadCase{"EmptyValuesKeepDefaults", "[WebSetting]\nvolume=\nshield=\nUrl=\n", "", 0, false,
                 100, true},
        LoadCase{"CaseQuotesAndBlanks",
                 "\xEF\xBB\xBF[WEBSETTING]\n  url = \"http://h\" \n TIMEOUT = 7s\n", "http://h", 7,
                 false, 100, true}),
    [](const auto& info) { return std::string(info.param.name); });

class SettingsTest : public ::testing::Test {
protected:
    TempProgramDir m_dir;
};

TEST_F(SettingsTest, LongUrlIsCutTo259Characters) {
    // Characters, not bytes: a cut in the middle of a UTF-8 sequence would
    // leave an invalid text.
    std::wstring url = L"http://h/";
    while (url.size() < 300) {
        url += L"路";
    }
    m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + WideToUtf8(url) + "\n");
    EXPECT_EQ(IniHelper::GetInstance()->Settings().url, WideToUtf8(url.substr(0, 259)));
}

TEST_F(SettingsTest, SetVolumeWritesAtOnceClampedAndKeepsOtherLines) {
    m_dir.Write("Setting.ini", "; mine\n[WebSetting]\nUrl=u\nvolume=20\n[Other]\nk=v\n");
    IniHelper* ini = IniHelper::GetInstance();
    ini->SetVolume(150);
    EXPECT_EQ(ini->Settings().volume, 100);
    EXPECT_EQ(m_dir.Read("Setting.ini"), "; mine\n[WebSetting]\nUrl=u\nvolume=100\n[Other]\nk=v\n");
    ini->SetVolume(-5);
    EXPECT_EQ(ini->Settings().volume, 0);
    EXPECT_EQ(m_dir.Read("Setting.ini"), "; mine\n[WebSetting]\nUrl=u\nvolume=0\n[Other]\nk=v\n");
    ini->SetVolume(75);
    EXPECT_EQ(m_dir.Read("Setting.ini"), "; mine\n[WebSetting]\nUrl=u\nvolume=75\n[Other]\nk=v\n");
}

TEST_F(SettingsTest, SaveShieldWritesTheSwitch) {
    IniHelper* ini = IniHelper::GetInstance();
    ini->Settings().shield = false;
    ini->SaveShield();
    EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\r\nshield=0\r\n");
    ini->Settings().shield = true;
    ini->SaveShield();
    EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\r\nshield=1\r\n");
}

TEST_F(SettingsTest, ShutdownWritesVolumeThenShieldOverEditsMadeMeanwhile) {
    m_dir.Write("Setting.ini", "[WebSetting]\nvolume=40\nshield=1\ndebug=0\n");
    IniHelper* ini = IniHelper::GetInstance();
    ini->Settings().volume = 30;
    ini->Settings().shield = false;
    // Someone edits the file while the program runs: only the next start sees
    // it, and the two keys the program owns are written from memory.
    m_dir.Write("Setting.ini", "[WebSetting]\nvolume=90\nshield=1\ndebug=1\n");
    EXPECT_FALSE(ini->Settings().debug.load());
    IniHelper::Destroy();
    EXPECT_EQ(IniHelper::Peek(), nullptr);
    EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\nvolume=30\nshield=0\ndebug=1\n");
}

TEST_F(SettingsTest, ShutdownWithoutAFileCreatesIt) {
    IniHelper::GetInstance();
    EXPECT_FALSE(m_dir.Exists("Setting.ini"));
    IniHelper::Destroy();
    EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\r\nvolume=100\r\nshield=1\r\n");
}

TEST_F(SettingsTest, AnUnwritableFolderKeepsTheValueInMemoryAndLogs) {
    m_dir.Write("Setting.ini", "[WebSetting]\nvolume=40\n");
    IniHelper* ini = IniHelper::GetInstance();
    {
        ReadOnlyDir readOnly(m_dir.Dir());
        if (!readOnly.Effective()) {
            GTEST_SKIP() << "cannot make a folder unwritable here";
        }
        ::testing::internal::CaptureStdout();
        ini->SetVolume(60);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("ERROR  :写入Setting.ini失败: volume\n"), std::string::npos) << out;
        EXPECT_EQ(ini->Settings().volume, 60);
        EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\nvolume=40\n");
    }
    // The logger could not create its folder either; it writes to standard
    // output only and the program goes on.
    EXPECT_FALSE(m_dir.Exists("log"));
    ini->SetVolume(61);
    EXPECT_EQ(m_dir.Read("Setting.ini"), "[WebSetting]\nvolume=61\n");
}

}  // namespace
