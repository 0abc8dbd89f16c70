#include "api/LoginApi.h"

#include <json/json.h>

#include <memory>

#include "api/ApiKey.h"
#include "api/BaseUrl.h"
#include "api/HttpClient.h"
#include "api/LoginResult.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"

namespace {

const char* const kLoginPath = "/api/index/voiceLogin";
const char* const kNetworkError = "网络错误.";
const char* const kParseError = "解析登录信息出错。";
const char* const kParseException = "解析登录信息异常。";

// False when the text is not JSON; the reader's own exceptions (nesting too
// deep, for one) count as not JSON as well.
bool ParseJson(const std::string& text, Json::Value& root) {
    try {
        Json::CharReaderBuilder builder;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool RequestLogin(int type, std::string& message, const std::string& userName,
                  const std::string& password, const std::string& staff, const std::string& port,
                  TransferAbort* abort) {
    if (userName.empty()) {
        message = "网吧帐号不能为空.";
        return false;
    }
    if (password.empty()) {
        message = "密码不能为空.";
        return false;
    }
    if (port.empty()) {
        message = "端口不能为空.";
        return false;
    }
    if (type == 1 && staff.empty()) {
        message = "员工帐号不能为空.";
        return false;
    }
    const std::string typeText = type == 1 ? "1" : "0";

    std::string mac;
    std::string ip;
    GetAdapterInfo(mac, ip);
    if (ip.empty()) {
        ip = "127.0.0.1";
    }
    const std::string url = GetBaseUrl() + kLoginPath;

    // The server reads the pairs as they are: no percent-encoding.
    const std::string head = std::string("key=") + kApiKey + "&user_name=" + userName + "&pwd=";
    std::string tail =
        "&port=" + port + "&ip=" + ip + "&version=" + GetAppVersion() + "&user_type=" + typeText;
    if (type == 1) {
        tail += "&staff=" + staff;
    }
    const std::string body = head + password + tail;
    // Debug logs go to support; the password stays out of them.
    const std::string bodyForLog = head + "***" + tail;
    LogHelper::GetInstance()->Debug(bodyForLog);

    std::string answer;
    if (!HttpPost(url, body, answer, bodyForLog, abort)) {
        message = kNetworkError;
        return false;
    }
    message = answer;
    LoginResult::GetInstance()->SetLocalAddress(ip, port);
    LogHelper::GetInstance()->Debug(message);
    return true;
}

bool ParseLogin(std::string& message, const std::string& answer) {
    LogHelper* log = LogHelper::GetInstance();
    Json::Value root;
    if (!ParseJson(answer, root)) {
        log->Debug("ParseLogin 无效的Json数据.");
        return false;
    }
    try {
        // Read through a const reference: a missing member reads as null and the
        // answer itself is never changed.
        const Json::Value& value = root;
        if (value["code"].asInt() != 0) {
            message = value["msg"].asString();
            return false;
        }
        AppSettings& settings = IniHelper::GetInstance()->Settings();
        const std::string id = value["id"].asString();
        if (!id.empty()) {
            settings.storeId = id;
        }
        const std::string serviceIp = value["service_ip"].asString();
        const std::string servicePort = value["service_port"].asString();
        const std::string realName = value["realname"].asString();
        if (value.isMember("is_wx_open")) {
            settings.wxOpen = value["is_wx_open"].asInt() == 1;
        }
        if (LoginResult::GetInstance()->SetServiceInfo(id, realName, serviceIp, servicePort)) {
            return true;
        }
        log->Error(kParseError);
        message = kParseError;
        return false;
    } catch (const std::exception&) {
        log->Error(kParseException);
        return false;
    }
}
