#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/LoginRecord.h"
#include "support/FileSizeLimit.h"
#include "support/TempProgramDir.h"

namespace {

const char* const kFile = "SystemInfo.xml";

// Digits of standard DES-CBC under the program's key (see TestPasswordCipher),
// so these files are the ones earlier installations wrote.
const std::string kZero = "4EE88AEF5F3BECA5";   // "0"
const std::string kOne = "228820DC33518465";    // "1"
const std::string kA = "10C84DD24957C370";      // "a"
const std::string k12345 = "FCF71056B6D39E8A";  // "12345"
const std::string k1234567 = "B978106152EB8BA9";
const std::string k5001 = "8CFEE08DE763AACF";

std::string File(const std::string& children) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<Login>\n" + children +
           "</Login>\n";
}

std::string Child(const std::string& name, const std::string& text) {
    return "    <" + name + ">" + text + "</" + name + ">\n";
}

class LoginRecordTest : public ::testing::Test {
protected:
    TempProgramDir m_dir;

    LoginRecord ReadOk() {
        LoginRecord record;
        EXPECT_TRUE(ReadLoginRecord(record));
        return record;
    }
    // Files other than the saved login and the log folder: temporaries left behind.
    std::vector<std::string> Strays() const {
        std::vector<std::string> strays;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name != kFile && name != "log") {
                strays.push_back(name);
            }
        }
        return strays;
    }
};

TEST_F(LoginRecordTest, BossLoginWritesTheExactFile) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "a", "12345", "1234567", "5001"));
    EXPECT_EQ(m_dir.Read(kFile),
              File(Child("Type", kZero) + Child("LoginName", kA) + Child("LoginPWD", k12345) +
                   Child("Port", k5001) + Child("AutoLogin", kOne)));
    const LoginRecord r = ReadOk();
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.loginName, "a");
    EXPECT_EQ(r.loginPwd, "12345");
    EXPECT_EQ(r.loginStaff, "");
    EXPECT_EQ(r.port, "5001");
    EXPECT_TRUE(r.autoLogin);
}

TEST_F(LoginRecordTest, OnlyTheOwnerMayReadTheFile) {
    m_dir.Write(kFile, File(Child("AutoLogin", kOne)));
    ::chmod(m_dir.File(kFile).c_str(), 0644);
    for (int step = 0; step < 2; ++step) {
        ASSERT_TRUE(step == 0 ? SaveLoginRecord(0, true, "a", "12345", "", "5001") : Logout());
        struct stat st {};
        ASSERT_EQ(::stat(m_dir.File(kFile).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << step;
    }
}

TEST_F(LoginRecordTest, StaffLoginPutsTheStaffAccountBeforeThePort) {
    ASSERT_TRUE(SaveLoginRecord(1, true, "a", "12345", "1234567", "5001"));
    EXPECT_EQ(m_dir.Read(kFile), File(Child("Type", kOne) + Child("LoginName", kA) +
                                      Child("LoginPWD", k12345) + Child("LoginStaff", k1234567) +
                                      Child("Port", k5001) + Child("AutoLogin", kOne)));
    const LoginRecord r = ReadOk();
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.loginStaff, "1234567");
}

TEST_F(LoginRecordTest, EmptyValuesAreStoredEmptyAndStaffWithoutAccountHasNoStaffElement) {
    ASSERT_TRUE(SaveLoginRecord(1, false, "a", "", "", "5001"));
    EXPECT_EQ(m_dir.Read(kFile),
              File(Child("Type", kOne) + Child("LoginName", kA) + "    <LoginPWD></LoginPWD>\n" +
                   Child("Port", k5001) + Child("AutoLogin", kZero)));
    const LoginRecord r = ReadOk();
    EXPECT_EQ(r.loginPwd, "");
    // The enciphered "0" is not the plain "0" that logging out writes.
    EXPECT_TRUE(r.autoLogin);
}

TEST_F(LoginRecordTest, ABossLoginAfterAStaffLoginDropsTheStaffAccount) {
    ASSERT_TRUE(SaveLoginRecord(1, true, "a", "12345", "1234567", "5001"));
    ASSERT_TRUE(SaveLoginRecord(0, true, "a", "12345", "1234567", "5001"));
    EXPECT_EQ(m_dir.Read(kFile).find("LoginStaff"), std::string::npos);
    EXPECT_EQ(ReadOk().loginStaff, "");
}

TEST_F(LoginRecordTest, LogoutSwitchesOnlyAutomaticLoginOff) {
    ASSERT_TRUE(SaveLoginRecord(1, true, "店长", "pa%sw0rd", "1234567", "5001"));
    ASSERT_TRUE(Logout());
    EXPECT_NE(m_dir.Read(kFile).find("<AutoLogin>0</AutoLogin>"), std::string::npos);
    const LoginRecord r = ReadOk();
    EXPECT_FALSE(r.autoLogin);
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.loginName, "店长");
    EXPECT_EQ(r.loginPwd, "pa%sw0rd");
    EXPECT_EQ(r.loginStaff, "1234567");
    EXPECT_EQ(r.port, "5001");
    // The next login switches it on again.
    ASSERT_TRUE(SaveLoginRecord(1, true, "店长", "pa%sw0rd", "1234567", "5001"));
    EXPECT_TRUE(ReadOk().autoLogin);
}

struct HandWritten {
    const char* name;
    std::string file;
    int type;
    std::string loginName;
    bool autoLogin;
};

class LoginRecordHandWritten : public LoginRecordTest,
                               public ::testing::WithParamInterface<HandWritten> {};

TEST_P(LoginRecordHandWritten, ReadsAsExpected) {
    m_dir.Write(kFile, GetParam().file);
    const LoginRecord r = ReadOk();
    EXPECT_EQ(r.type, GetParam().type);
    EXPECT_EQ(r.loginName, GetParam().loginName);
    EXPECT_EQ(r.autoLogin, GetParam().autoLogin);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoginRecordHandWritten,
    ::testing::Values(
        HandWritten{"PlainOneMarkIsOn", File(Child("LoginName", kA) + Child("AutoLogin", "1")), 0,
                    "a", true},
        HandWritten{"PlainZeroMarkIsOff", File(Child("AutoLogin", "0")), 0, "", false},
        HandWritten{"EncipheredZeroMarkIsOn", File(Child("AutoLogin", kZero)), 0, "", true},
        HandWritten{"MissingMarkIsOff", File(Child("LoginName", kA)), 0, "a", false},
        HandWritten{"EmptyMarkIsOff", File("    <AutoLogin/>\n"), 0, "", false},
        HandWritten{"MarkWithElementChildIsOff", File("    <AutoLogin><x/>1</AutoLogin>\n"), 0, "",
                    false},
        HandWritten{"PlainTypeOneIsBoss", File(Child("Type", "1") + Child("AutoLogin", "1")), 0, "",
                    true},
        HandWritten{"UndecipherableNameIsEmpty", File(Child("LoginName", "ZZ" + kA.substr(2))), 0,
                    "", false},
        HandWritten{"LoginNotFirstElement",
                    "<?xml version=\"1.0\"?>\n<!-- kept -->\n<Other/>\n<Login>" +
                        Child("Type", kOne) + Child("LoginName", kA) + "</Login>\n",
                    1, "a", false},
        HandWritten{"CrlfAndBom",
                    "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Login>\r\n<LoginName>" + kA +
                        "</LoginName>\r\n<AutoLogin>1</AutoLogin>\r\n</Login>\r\n",
                    0, "a", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct Unreadable {
    const char* name;
    std::string file;  // empty name: no file at all
    const char* logged;
};

class LoginRecordUnreadable : public LoginRecordTest,
                              public ::testing::WithParamInterface<Unreadable> {};

TEST_P(LoginRecordUnreadable, ReadAndLogoutFailWithALogLineAndTouchNothing) {
    if (!GetParam().file.empty()) {
        m_dir.Write(kFile, GetParam().file);
    }
    LoginRecord r;
    r.loginName = "untouched";
    r.autoLogin = true;
    EXPECT_FALSE(ReadLoginRecord(r));
    EXPECT_EQ(r.loginName, "untouched");
    EXPECT_TRUE(r.autoLogin);
    EXPECT_FALSE(Logout());
    EXPECT_EQ(m_dir.Read(kFile), GetParam().file);
    EXPECT_EQ(m_dir.Exists(kFile), !GetParam().file.empty());

    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.File("log"))) {
        log += m_dir.Read("log/" + entry.path().filename().string());
    }
    EXPECT_NE(log.find(std::string("ERROR  :") + GetParam().logged), std::string::npos) << log;
}

const std::string kSaved = File(Child("LoginName", kA) + Child("AutoLogin", kOne));

INSTANTIATE_TEST_SUITE_P(
    Files, LoginRecordUnreadable,
    ::testing::Values(Unreadable{"Missing", "", "打开本地登录文件SystemInfo.xml失败."},
                      Unreadable{"Truncated", kSaved.substr(0, kSaved.size() / 2),
                                 "打开本地登录文件SystemInfo.xml失败."},
                      Unreadable{"NotXml", "Type=1\n", "打开本地登录文件SystemInfo.xml失败."},
                      Unreadable{"Whitespace", " \n", "打开本地登录文件SystemInfo.xml失败."},
                      Unreadable{"NoLoginElement",
                                 "<?xml version=\"1.0\"?>\n<Logins><Login/></Logins>\n",
                                 "读取Login节点出错."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginRecordTest, LogoutAddsAMissingMark) {
    m_dir.Write(kFile, File(Child("LoginName", kA)));
    ASSERT_TRUE(Logout());
    EXPECT_EQ(m_dir.Read(kFile), File(Child("LoginName", kA) + Child("AutoLogin", "0")));
}

TEST_F(LoginRecordTest, LogoutFillsAnEmptyMark) {
    m_dir.Write(kFile, File("    <AutoLogin/>\n"));
    ASSERT_TRUE(Logout());
    EXPECT_EQ(m_dir.Read(kFile), File(Child("AutoLogin", "0")));
}

TEST_F(LoginRecordTest, AnUnwritableFolderKeepsTheOldFileAndReportsFailure) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "a", "12345", "", "5001"));
    const std::string before = m_dir.Read(kFile);
    {
        ReadOnlyDir readOnly(m_dir.Dir());
        if (!readOnly.Effective()) {
            GTEST_SKIP() << "cannot make a folder unwritable here";
        }
        EXPECT_FALSE(SaveLoginRecord(1, true, "b", "other", "staff", "6000"));
        EXPECT_FALSE(Logout());
    }
    EXPECT_EQ(m_dir.Read(kFile), before);
    EXPECT_TRUE(ReadOk().autoLogin);
    EXPECT_TRUE(Strays().empty());
}

TEST_F(LoginRecordTest, AWriteThatStopsHalfwayKeepsTheOldFile) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "a", "12345", "", "5001"));
    const std::string before = m_dir.Read(kFile);
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(SaveLoginRecord(1, true, std::string(200, 'n'), "pw", "staff", "6000"));
    }
    EXPECT_EQ(m_dir.Read(kFile), before);
    EXPECT_TRUE(Strays().empty());
}

}  // namespace
