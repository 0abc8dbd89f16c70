#include "api/UpdateApi.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <string>
#include <vector>

#include "api/ApiKey.h"
#include "api/BaseUrl.h"
#include "api/HttpClient.h"
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
    const std::string program = WideToUtf8(GetModuleDir()) + kUpdater;
    // A missing updater is no error worth a line: the program simply runs on.
    if (::access(program.c_str(), X_OK) != 0) {
        return;
    }
    // Everything the child needs is built before the fork: after it, in a
    // threaded process, only async-signal-safe calls are allowed.
    std::string address = WideToUtf8(updateUrl);
    std::string pid = std::to_string(::getpid());
    std::string start = "start";
    std::string name = program;
    std::vector<char*> argv = {name.data(), start.data(), address.data(), pid.data(), nullptr};

    // Double fork: the updater is adopted by init, so it is never waited for and
    // never left as a zombie of ours; only the short-lived middle child is reaped.
    const pid_t middle = ::fork();
    if (middle < 0) {
        return;
    }
    if (middle == 0) {
        if (::fork() == 0) {
            ::setsid();
            // The updater must not hold our sockets (the listening port) open.
            ::close_range(3, ~0U, 0);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
}
