#pragma once

#include <cstdint>
#include <string>

class TransferAbort;

// Every request has one time limit, from connecting to the last byte: the
// settings' `timeOut` when it is above 0 (clamped to `kMaxTimeOutSeconds`),
// otherwise `HttpLimits::defaultTotalSeconds`. Nothing ends a request sooner
// but the server itself (a refusal, a closed connection).

// One form POST; the answer bytes are appended to `answer`. True when the
// transfer completed with a status of 200..299 and a non-empty answer.
bool HttpPost(const std::string& url, const std::string& body, std::string& answer);
// The same, writing `bodyForLog` to the debug log in place of the body, for
// bodies that carry a secret; `abort`, when given, lets another thread end it.
bool HttpPost(const std::string& url, const std::string& body, std::string& answer,
              const std::string& bodyForLog, TransferAbort* abort = nullptr);
// Fetches `url` into the file `path` (UTF-8). True only on status 200; on any
// failure nothing is left at `path`. `abort`, when given, lets another thread
// end it.
bool DownloadFile(const std::string& url, const std::string& path, TransferAbort* abort = nullptr);

// The longest `timeOut` honoured: libcurl refuses limits whose milliseconds do
// not fit an int (about 24.8 days), so a larger value, written to mean
// "never", is read as this (about 23 days).
constexpr long kMaxTimeOutSeconds = 2000000;

// Guards that keep a dead or hostile server from blocking a caller for ever or
// filling memory or disk.
struct HttpLimits {
    long defaultTotalSeconds = 60;            // the whole request, while `timeOut` is 0
    int64_t maxBodyBytes = 20 * 1024 * 1024;  // answer or download size
};
// The limits in force.
HttpLimits GetHttpLimits();
// Replaces the limits; tests lower them so that slow servers fail quickly.
// Call while no transfer runs.
void SetHttpLimits(const HttpLimits& limits);

// The time options one request is given, in seconds.
struct HttpTimeLimits {
    long totalSeconds = 0;     // the whole request (CURLOPT_TIMEOUT)
    long connectSeconds = 0;   // opening the connection (CURLOPT_CONNECTTIMEOUT)
    long lowSpeedSeconds = 0;  // below 1 byte/s for this long ends it; 0: never
};
// The time options for the settings' `timeOut`: a silent or slow server is
// ended by the total limit alone, so a technician reads one number.
HttpTimeLimits TimeLimitsFor(long timeOut, const HttpLimits& limits);
