// The saved-login reader on arbitrary SystemInfo.xml files: no crash, and the
// file is only read, never changed.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "FuzzProgramDir.h"
#include "app/LoginRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzProgramDir() + "/SystemInfo.xml";
    WriteWhole(path, data, size);
    LoginRecord record;
    ReadLoginRecord(record);
    std::ifstream in(path, std::ios::binary);
    std::stringstream after;
    after << in.rdbuf();
    if (after.str() != std::string(reinterpret_cast<const char*>(data), size))
        abort();
    return 0;
}
