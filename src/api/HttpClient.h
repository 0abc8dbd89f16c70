#pragma once

#include <string>

// One form POST; the answer bytes are appended to `answer`. True when the
// transfer completed with a status of 200..299 and a non-empty answer.
bool HttpPost(const std::string& url, const std::string& body, std::string& answer);
// Fetches `url` into the file `path` (UTF-8). True only on status 200; on any
// failure nothing is left at `path`.
bool DownloadFile(const std::string& url, const std::string& path);
