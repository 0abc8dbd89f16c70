#pragma once

#include <atomic>
#include <string>

// The values of Setting.ini plus the two that the login answer supplies.
// Read directly by the subsystems; `debug` and `shield` are read by other
// threads without a lock, hence atomic.
struct AppSettings {
    std::wstring settingsPath;       // program folder + "Setting.ini"
    std::string url;                 // base URL of the web API; empty: built-in default
    int timeOut = 0;                 // seconds for one web request; 0 = the default limit
    std::atomic<bool> debug{false};  // write debug lines
    int volume = 100;                // 0..100
    std::atomic<bool> shield{true};  // lower other programs while speaking
    std::string storeId;             // from the login answer, never stored
    bool wxOpen = false;             // login answer's is_wx_open == 1, never stored
};
