#include "app/IniFile.h"

#include <climits>

// The number rule is ours on every system, so that a value reads the same
// wherever the file was written; reading and writing a key is the build's
// mechanism (IniFileOwn.cpp, IniFilePrivateProfile.cpp).

int IniFile::ReadInt(const std::string& section, const std::string& key, int fallback) const {
    // An empty value counts as missing, as with the Windows profile functions:
    // "volume=" keeps the default instead of muting the program.
    const std::string value = ReadString(section, key, "");
    if (value.empty()) {
        return fallback;
    }
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
        negative = value[i] == '-';
        ++i;
    }
    long long n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > INT_MAX) {
            n = static_cast<long long>(INT_MAX) + 1;  // saturate, keep reading digits
        }
    }
    if (negative) {
        n = -n;
    }
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    return static_cast<int>(n);
}
