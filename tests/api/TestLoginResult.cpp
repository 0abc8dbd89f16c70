#include <gtest/gtest.h>

#include <string>

#include "api/LoginResult.h"

namespace {

struct PortCase {
    const char* text;
    bool ok;
    uint32_t port;
};

// Ports are read the way strtoul reads them with a 32-bit unsigned long.
const PortCase kPorts[] = {
    {"5001", true, 5001},
    {"5001x", true, 5001},
    {" \t+5002", true, 5002},
    {"0", true, 0},
    {"4294967295", true, 4294967295u},
    {"-1", true, 4294967295u},  // strtoul negates in unsigned arithmetic
    {"4294967296", false, 0},
    {"99999999999999999999999", false, 0},
    {"abc", false, 0},
    {"-", false, 0},
    {" ", false, 0},
};

class LoginResultTest : public ::testing::Test {
protected:
    void SetUp() override { *LoginResult::GetInstance() = LoginResult(); }
    LoginResult& Result() { return *LoginResult::GetInstance(); }
};

TEST_F(LoginResultTest, IsOneRecordForTheProcess) {
    EXPECT_EQ(LoginResult::GetInstance(), LoginResult::GetInstance());
}

TEST_F(LoginResultTest, LocalPortIsReadLikeStrtoul) {
    for (const PortCase& c : kPorts) {
        SCOPED_TRACE(c.text);
        Result().localPort = 77;
        EXPECT_EQ(Result().SetLocalAddress("10.0.0.5", c.text), c.ok);
        EXPECT_EQ(Result().localIp, "10.0.0.5");
        EXPECT_EQ(Result().localPort, c.port);
    }
}

TEST_F(LoginResultTest, ServicePortIsReadLikeStrtoulAfterTheTexts) {
    for (const PortCase& c : kPorts) {
        SCOPED_TRACE(c.text);
        Result().servicePort = 77;
        EXPECT_EQ(Result().SetServiceInfo("88", "一号店", "192.168.1.2", c.text), c.ok);
        EXPECT_EQ(Result().storeId, "88");
        EXPECT_EQ(Result().realName, "一号店");
        EXPECT_EQ(Result().serviceIp, "192.168.1.2");
        EXPECT_EQ(Result().servicePort, c.port);
    }
}

TEST_F(LoginResultTest, AnEmptyTextChangesNothing) {
    ASSERT_TRUE(Result().SetLocalAddress("10.0.0.5", "5001"));
    ASSERT_TRUE(Result().SetServiceInfo("88", "一号店", "192.168.1.2", "5002"));
    const LoginResult before = Result();

    EXPECT_FALSE(Result().SetLocalAddress("", "6000"));
    EXPECT_FALSE(Result().SetLocalAddress("10.9.9.9", ""));
    const char* const kEmptyOne[][4] = {{"", "n", "1.1.1.1", "1"},
                                        {"i", "", "1.1.1.1", "1"},
                                        {"i", "n", "", "1"},
                                        {"i", "n", "1.1.1.1", ""}};
    for (const auto& row : kEmptyOne) {
        EXPECT_FALSE(Result().SetServiceInfo(row[0], row[1], row[2], row[3]));
    }
    EXPECT_EQ(Result().localIp, before.localIp);
    EXPECT_EQ(Result().localPort, before.localPort);
    EXPECT_EQ(Result().storeId, before.storeId);
    EXPECT_EQ(Result().realName, before.realName);
    EXPECT_EQ(Result().serviceIp, before.serviceIp);
    EXPECT_EQ(Result().servicePort, before.servicePort);
}

}  // namespace
