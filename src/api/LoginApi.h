#pragma once

#include <string>

class TransferAbort;

// Sends the login; true with the whole answer in `message`, false with the
// reason in `message`. type 0 boss login, 1 staff login. `abort`, when given,
// lets another thread end the request (a quit while the login waits); an
// aborted request fails as a network error does.
bool RequestLogin(int type, std::string& message, const std::string& userName,
                  const std::string& password, const std::string& staff, const std::string& port,
                  TransferAbort* abort = nullptr);
// Reads the answer; true when accepted (LoginResult and the settings' storeId,
// wxOpen filled), false with `message` set as the failure rules say.
bool ParseLogin(std::string& message, const std::string& answer);
