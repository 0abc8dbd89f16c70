#include "api/UpdateApi.h"

#include <string>

#include "api/ApiKey.h"
#include "api/BaseUrl.h"
#include "api/HttpClient.h"
#include "api/UpdaterSpawn.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"

namespace {
const char* const kUpdatePath = "/api/index/getVoiceUpdateUrl";
const char* const kUpdater = "AutoUpdate.exe";
}  // namespace

bool RequestUpdateUrl(std::string& answer, TransferAbort* abort) {
    LogHelper* log = LogHelper::GetInstance();
    const std::string& storeId = IniHelper::GetInstance()->Settings().storeId;
    if (storeId.empty()) {
        log->Error("网吧ID为空值。");
        return false;
    }
    const std::string url = GetBaseUrl() + kUpdatePath;
    const std::string body = std::string("key=") + kApiKey + "&wb_id=" + storeId;
    log->Debug(body);
    std::string received;
    if (!HttpPost(url, body, received, body, abort)) {
        answer = "网络错误.";
        return false;
    }
    answer = received;
    log->Debug(answer);
    return true;
}

void LaunchUpdater(const std::wstring& updateUrl) {
    if (updateUrl.empty()) {
        LogHelper::GetInstance()->Error("更新地址为空，不能更新。");
        return;
    }
    SpawnUpdater(WideToUtf8(GetModuleDir()) + kUpdater, WideToUtf8(updateUrl));
}
