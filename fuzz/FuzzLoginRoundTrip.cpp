// Saving a login and reading it back gives the same values, whatever bytes the
// user typed: the saved login is enciphered, so every byte must survive the
// cipher and the XML file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzProgramDir.h"
#include "app/LoginRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzProgramDir();
    if (size < 1)
        return 0;
    const int type = data[0] & 1;
    const bool autoLogin = (data[0] & 2) != 0;
    // The rest holds the four texts, separated by zero bytes (which a text
    // typed into the window cannot hold).
    std::vector<std::string> fields(4);
    size_t f = 0;
    for (size_t i = 1; i < size && f < fields.size(); ++i) {
        if (data[i] == 0) {
            ++f;
        } else {
            fields[f].push_back(static_cast<char>(data[i]));
        }
    }
    if (!SaveLoginRecord(type, autoLogin, fields[0], fields[1], fields[2], fields[3]))
        return 0;
    LoginRecord r;
    if (!ReadLoginRecord(r))
        abort();
    // Only "on" is checked: the program saves with automatic login on, and the
    // file format reads any text but a plain "0" as on.
    if (r.type != type || (autoLogin && !r.autoLogin))
        abort();
    if (r.loginName != fields[0] || r.loginPwd != fields[1] || r.port != fields[3])
        abort();
    // The staff account is kept for a staff login only.
    if (type == 1 && r.loginStaff != fields[2])
        abort();
    return 0;
}
