#pragma once

#include <string>

// Sends the login; true with the whole answer in `message`, false with the
// reason in `message`. type 0 boss login, 1 staff login.
bool RequestLogin(int type, std::string& message, const std::string& userName,
                  const std::string& password, const std::string& staff,
                  const std::string& port);
// Reads the answer; true when accepted (LoginResult and the settings' storeId,
// wxOpen filled), false with `message` set as the failure rules say.
bool ParseLogin(std::string& message, const std::string& answer);
