#pragma once

#include <string>

// The saved login, SystemInfo.xml in the program folder.
struct LoginRecord {
    int type = 0;  // 0 boss login, 1 staff login
    std::string loginName;
    std::string loginPwd;
    std::string loginStaff;
    std::string port;
    bool autoLogin = false;
};

// Writes the whole file anew; false (and the old file kept) when it cannot be written.
bool SaveLoginRecord(int type, bool autoLogin, const std::string& loginName,
                     const std::string& loginPwd, const std::string& loginStaff,
                     const std::string& port);
// True when the file was read and has a Login element; `record` is then set.
bool ReadLoginRecord(LoginRecord& record);
// Switches automatic login off; false (and the old file kept) when that failed.
bool Logout();
