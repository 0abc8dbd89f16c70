#include "api/LoginResult.h"

#include <cstdint>

#include "app/SingletonSlot.h"

namespace {

// Reads a number the way strtoul does with base 10 on a 32-bit unsigned long:
// leading white space, an optional sign, the longest run of digits; anything
// after it is ignored. No digits, or a magnitude beyond 32 bits, is unreadable.
// A minus sign negates in unsigned arithmetic, as strtoul does.
bool ReadDecimal(const std::string& text, uint32_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint64_t magnitude = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (magnitude > UINT32_MAX) {
            return false;
        }
    }
    if (digits == 0) {
        return false;
    }
    const auto result = static_cast<uint32_t>(magnitude);
    value = negative ? static_cast<uint32_t>(0u - result) : result;
    return true;
}

}  // namespace

LoginResult* LoginResult::GetInstance() {
    // Never destroyed: released with the process, like the other login state.
    static SingletonSlot<LoginResult> slot;
    return slot.GetOrCreate([] { return new LoginResult(); });
}

bool LoginResult::SetLocalAddress(const std::string& ip, const std::string& port) {
    if (ip.empty() || port.empty()) {
        return false;
    }
    localIp = ip;
    uint32_t value = 0;
    const bool read = ReadDecimal(port, value);
    localPort = read ? value : 0;
    return read;
}

bool LoginResult::SetServiceInfo(const std::string& storeId, const std::string& realName,
                                 const std::string& serviceIp, const std::string& servicePort) {
    if (storeId.empty() || realName.empty() || serviceIp.empty() || servicePort.empty()) {
        return false;
    }
    this->storeId = storeId;
    this->realName = realName;
    this->serviceIp = serviceIp;
    uint32_t value = 0;
    const bool read = ReadDecimal(servicePort, value);
    this->servicePort = read ? value : 0;
    return read;
}
