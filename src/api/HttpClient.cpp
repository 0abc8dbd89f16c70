#include "api/HttpClient.h"
#include "api/TransferAbort.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"

namespace {

const char* const kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/55.0.2883.87 Safari/537.36";
const long kMaxRedirects = 5;
// Only plain and secure HTTP: a settings file or a redirect must not turn a
// download into a read of local files or another protocol.
const char* const kProtocols = "http,https";

std::mutex s_limitsMutex;
HttpLimits s_limits;

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// curl_global_init is not safe to race; the login worker and the main thread
// may both make the first handle.
CurlHandle NewHandle() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return CurlHandle(curl_easy_init());
}

struct PostSink {
    std::string* answer;
    int64_t limit;
    int64_t received = 0;
};

size_t AppendAnswer(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<PostSink*>(user);
    const size_t bytes = size * count;
    sink->received += static_cast<int64_t>(bytes);
    if (sink->received > sink->limit) {
        return 0;  // aborts the transfer: no login answer is this large
    }
    sink->answer->append(data, bytes);
    return bytes;
}

// The time limits of one request, then the allowed protocols; false when the
// library refused an option.
bool SetLimits(CURL* curl, const HttpLimits& limits) {
    const HttpTimeLimits time = TimeLimitsFor(IniHelper::GetInstance()->Settings().timeOut, limits);
    const long lowSpeedBytes = time.lowSpeedSeconds > 0 ? 1L : 0L;
    return curl_easy_setopt(curl, CURLOPT_TIMEOUT, time.totalSeconds) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, time.connectSeconds) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, lowSpeedBytes) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, time.lowSpeedSeconds) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols) == CURLE_OK;
}

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// Keeps a waiting transfer known to its abort for as long as it waits.
class AbortAttachment {
public:
    AbortAttachment(TransferAbort* abort, CURLM* multi) : m_abort(abort), m_multi(multi) {
        m_attached = m_abort == nullptr || m_abort->Attach(m_multi);
    }
    ~AbortAttachment() {
        if (m_abort != nullptr && m_attached) {
            m_abort->Detach(m_multi);
        }
    }
    AbortAttachment(const AbortAttachment&) = delete;
    AbortAttachment& operator=(const AbortAttachment&) = delete;
    bool Attached() const { return m_attached; }

private:
    TransferAbort* m_abort;
    CURLM* m_multi;
    bool m_attached = false;
};

// Runs one transfer to its end. Through a multi handle rather than
// curl_easy_perform, so that an abort from another thread wakes the wait at
// once instead of at the next progress tick.
CURLcode Perform(CURL* curl, TransferAbort* abort) {
    MultiHandle owner(curl_multi_init());
    CURLM* multi = owner.get();
    if (multi == nullptr || curl_multi_add_handle(multi, curl) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    {
        const AbortAttachment attachment(abort, multi);
        while (attachment.Attached() && !(abort != nullptr && abort->Aborted())) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int left = 0;
                const CURLMsg* message = curl_multi_info_read(multi, &left);
                result = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                            : CURLE_FAILED_INIT;
                break;
            }
            // The library's own time limits end the transfer; the wait is
            // only how often it looks.
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
        }
    }
    curl_multi_remove_handle(multi, curl);
    if (result != CURLE_OK) {
        // With debug on, the log tells a time-out from a refusal.
        LogHelper::GetInstance()->Debug(std::string("请求失败: ") + curl_easy_strerror(result));
    }
    return result;
}

// The file being downloaded: a temporary file beside the target, so that a
// broken transfer never leaves something that looks like a finished clip.
struct Download {
    CURL* curl = nullptr;
    std::unique_ptr<AtomicFile> file;
    int64_t limit = 0;
    int64_t written = 0;
};

size_t WriteDownload(char* data, size_t size, size_t count, void* user) {
    auto* download = static_cast<Download*>(user);
    download->written += static_cast<int64_t>(size * count);
    if (download->written > download->limit) {
        return 0;  // aborts: larger than any clip we would play
    }
    return download->file->Write(data, size * count) ? count : 0;
}

int DownloadProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* download = static_cast<Download*>(user);
    if (download == nullptr || download->curl == nullptr) {
        return 0;
    }
    try {
        curl_off_t speed = 0;
        curl_easy_getinfo(download->curl, CURLINFO_SPEED_DOWNLOAD_T, &speed);
        double value = static_cast<double>(speed);
        const char* unit = "B";
        if (speed > 1073741824) {
            value /= 1073741824.0;
            unit = "G";
        } else if (speed > 1048576) {
            value /= 1048576.0;
            unit = "M";
        } else if (speed > 1024) {
            value /= 1024.0;
            unit = "KB";
        }
        std::printf("\n speed: %.2f%s /s", value, unit);
        // Until the size is known there is no share to print.
        const double percent = total > 0 ? static_cast<double>(now) * 100.0 / total : 0.0;
        std::printf("\n%.2f / %.2f (%.2f %%)", static_cast<double>(now), static_cast<double>(total),
                    percent);
    } catch (...) {
    }
    return 0;
}

}  // namespace

HttpTimeLimits TimeLimitsFor(long timeOut, const HttpLimits& limits) {
    // 0 or a negative number (a typing slip) means the default, never "no limit".
    const long total = timeOut > 0 ? std::min(timeOut, kMaxTimeOutSeconds)
                                   : std::max(limits.defaultTotalSeconds, 1L);
    // The connection and a stalled or trickling answer count against the same
    // limit; a shorter guard would cut a slow server the limit allows for.
    return HttpTimeLimits{total, total, 0};
}

HttpLimits GetHttpLimits() {
    std::lock_guard<std::mutex> lock(s_limitsMutex);
    return s_limits;
}

void SetHttpLimits(const HttpLimits& limits) {
    std::lock_guard<std::mutex> lock(s_limitsMutex);
    s_limits = limits;
}

bool HttpPost(const std::string& url, const std::string& body, std::string& answer) {
    return HttpPost(url, body, answer, body);
}

bool HttpPost(const std::string& url, const std::string& body, std::string& answer,
              const std::string& bodyForLog, TransferAbort* abort) {
    CurlHandle handle = NewHandle();
    CURL* curl = handle.get();
    if (curl == nullptr) {
        return false;
    }
    LogHelper* log = LogHelper::GetInstance();
    log->Debug(url);
    log->Debug(bodyForLog);

    const HttpLimits limits = GetHttpLimits();
    PostSink sink{&answer, limits.maxBodyBytes};
    const bool set = curl_easy_setopt(curl, CURLOPT_POST, 1L) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                                      static_cast<curl_off_t>(body.size())) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str()) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendAnswer) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
                     curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
                     // Signals cannot time out name lookups on a worker thread safely.
                     curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                     SetLimits(curl, limits);
    if (!set) {
        return false;
    }
    if (Perform(curl, abort) != CURLE_OK) {
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299 || answer.empty()) {
        return false;
    }
    log->Debug(answer);
    return true;
}

bool DownloadFile(const std::string& url, const std::string& path, TransferAbort* abort) {
    if (url.empty() || path.empty()) {
        return false;
    }
    std::string address = url;
    ReplaceAll(address, "\\", "/");

    std::string target = path;
    ReplaceAll(target, "\\\\", "\\");
    // Callers may still name folders the Windows way; here they are folders too.
    ReplaceAll(target, "\\", "/");
    ::unlink(target.c_str());
    CreateDirs(target);

    Download download;
    CurlHandle handle = NewHandle();
    download.curl = handle.get();
    if (download.curl == nullptr) {
        return false;
    }
    CURL* curl = download.curl;
    const HttpLimits limits = GetHttpLimits();
    download.limit = limits.maxBodyBytes;
    const bool set =
        curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_URL, address.c_str()) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_POST, 0L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteDownload) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &download) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, DownloadProgress) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L) == CURLE_OK &&
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.maxBodyBytes)) == CURLE_OK &&
        SetLimits(curl, limits);
    if (!set) {
        return false;
    }

    download.file = std::make_unique<AtomicFile>(target, 0644);
    if (!download.file->IsOpen()) {
        return false;
    }

    const CURLcode result = Perform(curl, abort);
    std::fflush(stdout);
    if (result != CURLE_OK) {
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        return false;
    }
    return download.file->Commit();
}
