#pragma once

#include <cstdint>
#include <string>

// The accepted login, process-wide; released with the process.
class LoginResult {
public:
    static LoginResult* GetInstance();

    // Stores the IP text and the port text read the strtoul way; false (and
    // nothing changed) when either is empty, false with localPort 0 when the
    // port cannot be read.
    bool SetLocalAddress(const std::string& ip, const std::string& port);
    // Stores the three texts and the port; false (nothing changed) when any is
    // empty, false with servicePort 0 when the port cannot be read.
    bool SetServiceInfo(const std::string& storeId, const std::string& realName,
                        const std::string& serviceIp, const std::string& servicePort);

    std::string storeId;
    std::string serviceIp;
    std::string realName;
    std::string localIp;
    uint32_t servicePort = 0;
    uint32_t localPort = 0;
};
