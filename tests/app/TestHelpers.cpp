#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/Helpers.h"
#include "app/ModuleDir.h"
#include "support/TempProgramDir.h"

namespace {

struct ModuleCase {
    std::wstring executable;
    std::wstring dir;
    std::string audio;
};

class ModuleDirCases : public ::testing::TestWithParam<ModuleCase> {
protected:
    void TearDown() override { ModuleDir::Install(nullptr); }
};

TEST_P(ModuleDirCases, FolderKeepsItsSeparator) {
    ModuleDir::UseExecutable(GetParam().executable);
    EXPECT_EQ(GetModuleDir(), GetParam().dir);
    EXPECT_EQ(GetAudioDir(), GetParam().audio);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ModuleDirCases,
    ::testing::Values(ModuleCase{L"/opt/voice/Voice", L"/opt/voice/", "/opt/voice/Audio/"},
                      ModuleCase{L"/Voice", L"/", "/Audio/"},
                      ModuleCase{L"/opt/语音/Voice", L"/opt/语音/", "/opt/语音/Audio/"},
                      ModuleCase{L"Voice", L"", "Audio/"}, ModuleCase{L"", L"", "Audio/"}));

TEST(ModuleDirReal, IsTheFolderOfThisTestProgram) {
    const std::string dir = WideToUtf8(GetModuleDir());
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(dir + "TestHelpers"));
}

TEST(Version, IsTheBuildsVersionForTheProgramOnly) {
    TempProgramDir dir;
    EXPECT_EQ(GetAppVersion(), "4.0.3.2");
    EXPECT_EQ(GetFileVersionText(Utf8ToWide(dir.Executable())), L"4.0.3.2");
    EXPECT_EQ(GetFileVersionText(L"/bin/sh"), L"unknown");
    EXPECT_EQ(GetFileVersionText(L""), L"unknown");
}

struct AdapterCase {
    const char* name;
    std::vector<NetworkAdapter> adapters;
    std::string macBefore, ipBefore;
    std::string mac, ip;
};

class AdapterFormat : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(AdapterFormat, AppendsTheTexts) {
    std::string mac = GetParam().macBefore;
    std::string ip = GetParam().ipBefore;
    FormatAdapterInfo(GetParam().adapters, mac, ip);
    EXPECT_EQ(mac, GetParam().mac);
    EXPECT_EQ(ip, GetParam().ip);
}

const NetworkAdapter kEth0{"eth0", {0x1c, 0x6f, 0x65, 0xaa, 0xbb, 0xcc}, {"192.168.1.5"}};
const NetworkAdapter kWlan{"wlan0", {0x74, 0xd4, 0x35, 0x01, 0x02, 0x03}, {"10.0.0.7"}};
const NetworkAdapter kLoopback{"lo", {0, 0, 0, 0, 0, 0}, {"127.0.0.1"}};

INSTANTIATE_TEST_SUITE_P(
    Lists, AdapterFormat,
    ::testing::Values(
        AdapterCase{"None", {}, "", "", "", ""},
        AdapterCase{"Two",
                    {kEth0, kWlan},
                    "",
                    "",
                    "1c-6f-65-aa-bb-cc, 74-d4-35-01-02-03",
                    "192.168.1.5,10.0.0.7"},
        AdapterCase{"LoopbackSkippedWithItsAddresses",
                    {kLoopback, kEth0},
                    "",
                    "",
                    "1c-6f-65-aa-bb-cc",
                    "192.168.1.5"},
        AdapterCase{
            "OnlyTheFirstByteDecides",
            {{"x", {0x00, 0x1a, 1, 2, 3, 4}, {"1.2.3.4"}}, {"y", {0x02, 0, 0, 0, 0, 0}, {}}},
            "",
            "",
            "02-00-00-00-00-00",
            ""},
        AdapterCase{"NoHardwareAddress", {{"tun0", {}, {"10.8.0.1"}}}, "", "", "", ""},
        AdapterCase{"NoName", {{"", {0x1c, 1, 2, 3, 4, 5}, {"1.1.1.1"}}}, "", "", "", ""},
        AdapterCase{"ZeroAddressSkipped",
                    {{"eth0", {0xaa, 0xbb}, {"0.0.0.0", "192.168.1.5", "0.0.0.0", "10.1.1.1"}}},
                    "",
                    "",
                    "aa-bb",
                    "192.168.1.5,10.1.1.1"},
        AdapterCase{"AppendsToWhatIsThere",
                    {kEth0},
                    "old",
                    "1.1.1.1",
                    "old1c-6f-65-aa-bb-cc",
                    "1.1.1.1,192.168.1.5"}),
    [](const auto& info) { return std::string(info.param.name); });

// The interfaces the kernel shows in /sys agree with what getifaddrs gives.
TEST(AdapterInfo, MatchesTheSystemsInterfaces) {
    std::string mac, ip;
    EXPECT_TRUE(GetAdapterInfo(mac, ip));
    std::vector<std::string> expected;
    for (const auto& adapter : ReadNetworkAdapters()) {
        std::ifstream in("/sys/class/net/" + adapter.name + "/address");
        std::string address;
        if (!std::getline(in, address) || address.empty() || address.rfind("00", 0) == 0) {
            continue;
        }
        std::replace(address.begin(), address.end(), ':', '-');
        expected.push_back(address);
    }
    std::string joined;
    for (const auto& e : expected) {
        joined += (joined.empty() ? "" : ", ") + e;
    }
    EXPECT_EQ(mac, joined);
    EXPECT_TRUE(std::regex_match(ip, std::regex(R"(^(\d+\.\d+\.\d+\.\d+(,|$))*$)"))) << ip;
    EXPECT_EQ(ip.find("0.0.0.0"), std::string::npos);
}

TEST(AdapterInfo, LoopbackIsListedButNeverFormatted) {
    bool sawLoopback = false;
    for (const auto& adapter : ReadNetworkAdapters()) {
        if (adapter.name == "lo") {
            sawLoopback = true;
            EXPECT_NE(std::find(adapter.ipv4.begin(), adapter.ipv4.end(), "127.0.0.1"),
                      adapter.ipv4.end());
        }
    }
    EXPECT_TRUE(sawLoopback);
    std::string mac, ip;
    GetAdapterInfo(mac, ip);
    EXPECT_EQ(ip.find("127.0.0.1"), std::string::npos);
}

struct TextCase {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

class TextConversion : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextConversion, BothWays) {
    EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide);
    EXPECT_EQ(AnsiToWide(GetParam().utf8), GetParam().wide);
    EXPECT_EQ(WideToUtf8(GetParam().wide), GetParam().utf8);
    EXPECT_EQ(WideToAnsi(GetParam().wide), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextConversion,
    ::testing::Values(TextCase{"Empty", "", L""}, TextCase{"Ascii", "12,101", L"12,101"},
                      TextCase{"Chinese", "号机需要服务员帮助.mp3", L"号机需要服务员帮助.mp3"},
                      TextCase{"TwoByte", "é", L"\u00e9"},
                      TextCase{"FourByte", "\xF0\x9F\x94\x8A", L"\U0001F50A"}),
    [](const auto& info) { return std::string(info.param.name); });

struct OneWay {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

class BadUtf8 : public ::testing::TestWithParam<OneWay> {};

TEST_P(BadUtf8, BecomesReplacementCharactersOrIsCut) {
    EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BadUtf8,
    ::testing::Values(OneWay{"EmbeddedNul", std::string("ab\0cd", 5), L"ab"},
                      OneWay{"LoneContinuation", "a\x80z", L"a\uFFFDz"},
                      OneWay{"TruncatedSequence", "a\xE5\xBA", L"a\uFFFD\uFFFD"},
                      OneWay{"Overlong", "\xC0\xAF", L"\uFFFD\uFFFD"},
                      OneWay{"Surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
                      OneWay{"BeyondUnicode", "\xF5\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      OneWay{"GbkBytes", "\xBA\xC5", L"\uFFFD\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextConversionWide, CutsAtNulAndReplacesWhatIsNoCharacter) {
    EXPECT_EQ(WideToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(CreateDirs, MakesTheFoldersOfAFilePathOnly) {
    TempProgramDir dir;
    CreateDirs(dir.File("a/b/c.wav"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("a/b/c.wav")));

    // Backslashes from the web API's clip paths are separators too.
    CreateDirs(dir.File("x\\y\\z.mp3"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("x/y")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("x/y/z.mp3")));

    // Folders that exist already are fine; a trailing separator makes the last one.
    CreateDirs(dir.File("a/b/d/"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/d")));
}

struct ReplaceCase {
    std::string text, from, to, result;
};

class ReplaceAllCases : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllCases, ReplacesLeftToRightOnce) {
    std::string text = GetParam().text;
    ReplaceAll(text, GetParam().from, GetParam().to);
    EXPECT_EQ(text, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReplaceAllCases,
    ::testing::Values(ReplaceCase{"a/b/c", "/", "\\", "a\\b\\c"},
                      ReplaceCase{"aa", "a", "aa", "aaaa"}, ReplaceCase{"aaa", "aa", "b", "ba"},
                      ReplaceCase{"abc", "x", "y", "abc"}, ReplaceCase{"abc", "b", "", "ac"},
                      ReplaceCase{"", "a", "b", ""}, ReplaceCase{"abc", "", "x", "abc"}));

TEST(ToUpper, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(ToUpper("abc.wav"), "ABC.WAV");
    EXPECT_EQ(ToUpper("Zz09_"), "ZZ09_");
    EXPECT_EQ(ToUpper("é号"), "é号");
    EXPECT_EQ(ToUpper(""), "");
}

struct SplitCase {
    std::string text;
    bool result;
    std::vector<int> values;
};

class SplitDigitsCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitDigitsCases, KeepsTheDigitsBeforeAnyOtherCharacter) {
    std::vector<int> digits{9, 9};  // cleared first
    EXPECT_EQ(SplitDigits(GetParam().text, digits), GetParam().result);
    EXPECT_EQ(digits, GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitDigitsCases,
                         ::testing::Values(SplitCase{"1203", true, {1, 2, 0, 3}},
                                           SplitCase{"12a", false, {1, 2}},
                                           SplitCase{"a12", false, {}}, SplitCase{"", false, {}},
                                           SplitCase{"-1", false, {}}, SplitCase{"0", true, {0}}));

class SplitCharsCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCharsCases, GivesSignedBytes) {
    std::vector<int> chars{9, 9};
    EXPECT_EQ(SplitChars(GetParam().text, chars), GetParam().result);
    EXPECT_EQ(chars, GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitCharsCases,
                         ::testing::Values(SplitCase{"A1", true, {65, 49}},
                                           SplitCase{"\xE5\xBA", true, {-27, -70}},
                                           SplitCase{"\x7F\x80\xFF", true, {127, -128, -1}},
                                           SplitCase{"", false, {}}));

}  // namespace
