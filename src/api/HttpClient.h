#pragma once

#include <cstdint>
#include <string>

// One form POST; the answer bytes are appended to `answer`. True when the
// transfer completed with a status of 200..299 and a non-empty answer.
bool HttpPost(const std::string& url, const std::string& body, std::string& answer);
// The same, writing `bodyForLog` to the debug log in place of the body, for
// bodies that carry a secret.
bool HttpPost(const std::string& url, const std::string& body, std::string& answer,
              const std::string& bodyForLog);
// Fetches `url` into the file `path` (UTF-8). True only on status 200; on any
// failure nothing is left at `path`.
bool DownloadFile(const std::string& url, const std::string& path);

// Guards that keep a dead or hostile server from blocking a caller for ever or
// filling memory or disk. They apply to every transfer, on top of the POST's
// own `timeOut`.
struct HttpLimits {
    long connectSeconds = 10;                 // to open the connection
    long lowSpeedSeconds = 30;                // abort after this long below 1 byte/s
    int64_t maxBodyBytes = 20 * 1024 * 1024;  // answer or download size
};
// The limits in force.
HttpLimits GetHttpLimits();
// Replaces the limits; tests lower them so that slow servers fail quickly.
// Call while no transfer runs.
void SetHttpLimits(const HttpLimits& limits);
