#include "app/GbkText.h"

#include <iconv.h>

#include <cerrno>

bool GbkToUtf8(const std::string& bytes, bool strict, std::string& out) {
    out.clear();
    iconv_t cd = ::iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string in = bytes;
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char buffer[256];
    bool clean = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof(buffer) - outLeft);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (a sequence cut off at the end).
            clean = false;
            if (strict) {
                break;
            }
            out += "\xEF\xBF\xBD";
            ++inPtr;
            --inLeft;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(cd);
    return clean;
}
