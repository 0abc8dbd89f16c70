// The login answer parser on arbitrary bodies: no crash, no exception out,
// and a refused answer never reports success.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzProgramDir.h"
#include "api/LoginApi.h"
#include "api/LoginResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzProgramDir("[WebSetting]\r\nUrl=http://127.0.0.1:1\r\nTimeOut=1\r\n");
    const std::string answer(reinterpret_cast<const char*>(data), size);
    std::string message = "unchanged";
    const bool ok = ParseLogin(message, answer);
    if (ok) {
        const LoginResult* r = LoginResult::GetInstance();
        // Accepted only with every field the link and the windows rely on.
        if (r->storeId.empty() || r->serviceIp.empty() || r->realName.empty())
            abort();
    }
    return 0;
}
