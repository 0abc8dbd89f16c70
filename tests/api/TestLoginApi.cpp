#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "api/LoginApi.h"
#include "api/LoginResult.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "support/FakeWebApi.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

namespace {

const char* const kAccounts = R"({"accounts": [{
    "user_name": "boss", "pwd": "secret", "staff": ["s01"],
    "id": "88", "realname": "一号店", "service_ip": "127.0.0.1", "service_port": 5002,
    "is_wx_open": 1}]})";

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// The address part of the body is this machine's; compute it the same way.
std::string LocalIp() {
    std::string mac;
    std::string ip;
    GetAdapterInfo(mac, ip);
    return ip.empty() ? "127.0.0.1" : ip;
}

class LoginApiTest : public ::testing::Test {
protected:
    void SetUp() override { *LoginResult::GetInstance() = LoginResult(); }

    AppSettings& Settings() { return IniHelper::GetInstance()->Settings(); }
    void UseServer(const FakeWebApi& server) { Settings().url = server.BaseUrl(); }

    TempProgramDir m_dir;
};

TEST_F(LoginApiTest, BossLoginSendsSevenPairsInOrder) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    std::string message;
    // A staff text passed along with a boss login is not sent.
    ASSERT_TRUE(RequestLogin(0, message, "boss", "secret", "s01", "5001")) << message;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/index/voiceLogin");
    EXPECT_EQ(requests[0].body, "key=vkmr582039&user_name=boss&pwd=secret&port=5001&ip=" +
                                    LocalIp() + "&version=4.0.3.2&user_type=0");
    // The whole answer comes back for ParseLogin.
    EXPECT_NE(message.find("\"code\": 0"), std::string::npos) << message;
}

TEST_F(LoginApiTest, StaffLoginEndsWithTheStaffAccount) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    std::string message;
    ASSERT_TRUE(RequestLogin(1, message, "boss", "secret", "s01", "5001")) << message;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "key=vkmr582039&user_name=boss&pwd=secret&port=5001&ip=" +
                                    LocalIp() + "&version=4.0.3.2&user_type=1&staff=s01");
}

TEST_F(LoginApiTest, ValuesAreSentUnescapedAndThePortAsTyped) {
    FakeWebApi server(R"({"responses": {"*": {"body": "{}"}}})");
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    std::string message;
    ASSERT_TRUE(RequestLogin(7, message, "网吧 1", "p&w=密", "", "5001x"));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "key=vkmr582039&user_name=网吧 1&pwd=p&w=密&port=5001x&ip=" +
                                    LocalIp() + "&version=4.0.3.2&user_type=0");
    EXPECT_EQ(LoginResult::GetInstance()->localIp, LocalIp());
    EXPECT_EQ(LoginResult::GetInstance()->localPort, 5001u);
}

TEST_F(LoginApiTest, DebugLogMasksThePasswordButTheRequestCarriesIt) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    Settings().debug = true;
    std::string message;
    ASSERT_TRUE(RequestLogin(0, message, "boss", "secret", "", "5001"));
    const std::string log = m_dir.LogText();
    EXPECT_EQ(Count(log, "&pwd=***&port=5001"), 2u) << log;
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;
    EXPECT_NE(log.find("/api/index/voiceLogin"), std::string::npos);
    EXPECT_NE(log.find("\"service_ip\""), std::string::npos) << "the answer is logged";
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(server.Requests()[0].body.find("&pwd=secret&"), std::string::npos);
}

struct InputCase {
    int type;
    const char* user;
    const char* pwd;
    const char* staff;
    const char* port;
    const char* message;
};

TEST_F(LoginApiTest, MissingInputIsRefusedBeforeAnyRequest) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    const InputCase cases[] = {
        {0, "", "", "", "", "网吧帐号不能为空."},
        {0, "boss", "", "", "", "密码不能为空."},
        {0, "boss", "secret", "", "", "端口不能为空."},
        {1, "boss", "secret", "", "5001", "员工帐号不能为空."},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.message);
        std::string message;
        EXPECT_FALSE(RequestLogin(c.type, message, c.user, c.pwd, c.staff, c.port));
        EXPECT_EQ(message, c.message);
    }
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(LoginResult::GetInstance()->localIp, "");
}

struct TransportCase {
    const char* name;
    const char* config;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const TransportCase& c, std::ostream* os) {
    *os << c.name;
}

class LoginTransportFailures : public LoginApiTest,
                               public ::testing::WithParamInterface<TransportCase> {};

TEST_P(LoginTransportFailures, ReadNetworkErrorAndLeaveTheResultAlone) {
    FakeWebApi server(GetParam().config);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    Settings().timeOut = 2;
    std::string message;
    EXPECT_FALSE(RequestLogin(0, message, "boss", "secret", "", "5001"));
    EXPECT_EQ(message, "网络错误.");
    EXPECT_EQ(LoginResult::GetInstance()->localIp, "");
    EXPECT_EQ(LoginResult::GetInstance()->localPort, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoginTransportFailures,
    ::testing::Values(
        TransportCase{"status_500_with_body",
                      R"({"responses": {"*": {"status": 500, "body": "{\"code\":0}"}}})"},
        TransportCase{"status_200_empty", R"({"responses": {"*": {"empty_body": true}}})"},
        TransportCase{"status_204", R"({"responses": {"*": {"status": 204, "empty_body": true}}})"},
        TransportCase{"status_404", R"({"responses": {"*": {"status": 404, "body": "no"}}})"},
        TransportCase{"never_answers", R"({"responses": {"*": {"never_answer": true}}})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginApiTest, RefusedConnectionReadsNetworkError) {
    std::string baseUrl;
    {
        FakeWebApi gone;
        ASSERT_TRUE(gone.Running()) << gone.Error();
        baseUrl = gone.BaseUrl();
    }
    Settings().url = baseUrl;
    std::string message;
    EXPECT_FALSE(RequestLogin(0, message, "boss", "secret", "", "5001"));
    EXPECT_EQ(message, "网络错误.");
}

TEST_F(LoginApiTest, EmptyUrlUsesTheBuiltInAddress) {
    const std::string builtIn = VOICE_DEFAULT_API_URL;
    const std::string port = builtIn.substr(builtIn.rfind(':') + 1);
    ASSERT_EQ(builtIn, "http://127.0.0.1:" + port) << "the test serves only on loopback";
    FakeWebApi server(kAccounts, {"--port", port});
    if (!server.Running()) {
        GTEST_SKIP() << "the built-in port is taken: " << server.Error();
    }
    Settings().url = "";
    std::string message;
    ASSERT_TRUE(RequestLogin(0, message, "boss", "secret", "", "5001")) << message;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].path, "/api/index/voiceLogin");
}

TEST_F(LoginApiTest, AcceptedLoginFillsTheResultEndToEnd) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    std::string answer;
    ASSERT_TRUE(RequestLogin(0, answer, "boss", "secret", "", "5001"));
    std::string message;
    ASSERT_TRUE(ParseLogin(message, answer)) << answer;
    EXPECT_EQ(message, "");
    const LoginResult& result = *LoginResult::GetInstance();
    EXPECT_EQ(result.storeId, "88");
    EXPECT_EQ(result.realName, "一号店");
    EXPECT_EQ(result.serviceIp, "127.0.0.1");
    EXPECT_EQ(result.servicePort, 5002u);
    EXPECT_EQ(result.localPort, 5001u);
    EXPECT_EQ(Settings().storeId, "88");
    EXPECT_TRUE(Settings().wxOpen);
}

TEST_F(LoginApiTest, RefusedLoginShowsTheServersMessage) {
    FakeWebApi server(kAccounts);
    ASSERT_TRUE(server.Running()) << server.Error();
    UseServer(server);
    std::string answer;
    ASSERT_TRUE(RequestLogin(0, answer, "boss", "wrong", "", "5001"));
    std::string message;
    EXPECT_FALSE(ParseLogin(message, answer));
    EXPECT_EQ(message, "账号或密码错误");
}

// ----------------------------------------------------------------------------

struct ParseCase {
    const char* name;
    std::string answer;
    bool ok;
    const char* message;  // "before" when left unchanged
    const char* logLine;  // a line that must be logged, or ""
    // What is stored afterwards (LoginResult starts empty, storeId "", wxOpen as given).
    bool wxBefore;
    bool wxAfter;
    const char* storeId;
    const char* serviceIp;
    const char* realName;
    uint32_t servicePort;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

const char* const kUnchanged = "before";
const char* const kParseError = "解析登录信息出错。";
const char* const kException = "解析登录信息异常。";

std::string Accepted(const std::string& extra) {
    return R"({"code": 0, "id": "88", "service_ip": "192.168.1.2", "realname": "一号店")" + extra +
           "}";
}

std::string Nested(int depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

const ParseCase kParseCases[] = {
    {"port_as_text", Accepted(R"(, "service_port": "5002")"), true, kUnchanged, "", true, true,
     "88", "192.168.1.2", "一号店", 5002},
    {"port_as_number", Accepted(R"(, "service_port": 5002)"), true, kUnchanged, "", false, false,
     "88", "192.168.1.2", "一号店", 5002},
    {"port_with_trailing_text", Accepted(R"(, "service_port": "5002x")"), true, kUnchanged, "",
     false, false, "88", "192.168.1.2", "一号店", 5002},
    {"id_as_number", R"({"id": 88, "service_ip": "1.2.3.4", "realname": "r", "service_port": 1})",
     true, kUnchanged, "", false, false, "88", "1.2.3.4", "r", 1},
    {"wx_open_1", Accepted(R"(, "service_port": 5002, "is_wx_open": 1)"), true, kUnchanged, "",
     false, true, "88", "192.168.1.2", "一号店", 5002},
    {"wx_open_0", Accepted(R"(, "service_port": 5002, "is_wx_open": 0)"), true, kUnchanged, "",
     true, false, "88", "192.168.1.2", "一号店", 5002},
    {"wx_open_2", Accepted(R"(, "service_port": 5002, "is_wx_open": 2)"), true, kUnchanged, "",
     true, false, "88", "192.168.1.2", "一号店", 5002},
    {"wx_open_true", Accepted(R"(, "service_port": 5002, "is_wx_open": true)"), true, kUnchanged,
     "", false, true, "88", "192.168.1.2", "一号店", 5002},
    {"refused", R"({"code": 1, "msg": "账号密码错误"})", false, "账号密码错误", "", true, true, "",
     "", "", 0},
    {"refused_without_msg", R"({"code": 3})", false, "", "", false, false, "", "", "", 0},
    {"fractional_code_cut_to_1", R"({"code": 1.7, "msg": "m"})", false, "m", "", false, false, "",
     "", "", 0},
    {"not_json", "<html>502 Bad Gateway</html>", false, kUnchanged, "", false, false, "", "", "",
     0},
    {"nesting_too_deep", Nested(100000), false, kUnchanged, "", false, false, "", "", "", 0},
    {"null_reads_as_code_0", "null", false, kParseError, kParseError, false, false, "", "", "", 0},
    {"code_as_text", R"({"code": "0", "id": "88"})", false, kUnchanged, kException, false, false,
     "", "", "", 0},
    {"code_beyond_32_bits", R"({"code": 4294967296})", false, kUnchanged, kException, false, false,
     "", "", "", 0},
    {"msg_as_array", R"({"code": 1, "msg": ["x"]})", false, kUnchanged, kException, false, false,
     "", "", "", 0},
    {"a_number", "42", false, kUnchanged, kException, false, false, "", "", "", 0},
    {"a_text", R"("hello")", false, kUnchanged, kException, false, false, "", "", "", 0},
    {"an_array", R"([{"code": 0}])", false, kUnchanged, kException, false, false, "", "", "", 0},
    {"ip_as_object", Accepted(R"(, "service_port": 1, "service_ip": {"a": 1})"), false, kUnchanged,
     kException, false, false, "88", "", "", 0},
    {"realname_missing",
     R"({"code": 0, "id": "88", "service_ip": "192.168.1.2", "service_port": "5002"})", false,
     kParseError, kParseError, false, false, "88", "", "", 0},
    {"port_not_a_number", Accepted(R"(, "service_port": "abc", "is_wx_open": 1)"), false,
     kParseError, kParseError, false, true, "88", "192.168.1.2", "一号店", 0},
    {"port_beyond_32_bits", Accepted(R"(, "service_port": 99999999999)"), false, kParseError,
     kParseError, false, false, "88", "192.168.1.2", "一号店", 0},
};

class ParseLoginCases : public LoginApiTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ParseLoginCases, FollowTheFailureRules) {
    const ParseCase& c = GetParam();
    Settings().storeId = "";
    Settings().wxOpen = c.wxBefore;
    std::string message = kUnchanged;
    EXPECT_EQ(ParseLogin(message, c.answer), c.ok);
    EXPECT_EQ(message, c.message);
    const LoginResult& result = *LoginResult::GetInstance();
    EXPECT_EQ(Settings().storeId, c.storeId);
    EXPECT_EQ(Settings().wxOpen, c.wxAfter);
    EXPECT_EQ(result.serviceIp, c.serviceIp);
    EXPECT_EQ(result.realName, c.realName);
    EXPECT_EQ(result.servicePort, c.servicePort);
    if (*c.logLine != '\0') {
        EXPECT_NE(m_dir.LogText().find(c.logLine), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ParseLoginCases, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoginApiTest, InvalidJsonIsLoggedOnlyWithDebugOn) {
    std::string message;
    Settings().debug = false;
    EXPECT_FALSE(ParseLogin(message, "not json"));
    EXPECT_EQ(m_dir.LogText().find("ParseLogin 无效的Json数据."), std::string::npos);
    Settings().debug = true;
    EXPECT_FALSE(ParseLogin(message, "not json"));
    EXPECT_NE(m_dir.LogText().find("ParseLogin 无效的Json数据."), std::string::npos);
    EXPECT_EQ(message, "");
}

}  // namespace
