// The settings reader on arbitrary files: reading must never crash, and a
// written key must read back as written while another key keeps its value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzProgramDir.h"
#include "app/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzProgramDir() + "/Setting.ini";
    WriteWhole(path, data, size);
    IniFile ini(path);
    const std::string url = ini.ReadString("WebSetting", "Url", "<none>");
    ini.ReadInt("WebSetting", "TimeOut", 0);
    ini.ReadInt("WebSetting", "debug", 0);
    ini.ReadInt("websetting", "VOLUME", 100);
    ini.ReadString("", "", "");

    // What the program writes back: the volume. Nothing else may change.
    if (!ini.WriteString("WebSetting", "volume", "37"))
        return 0;
    if (ini.ReadInt("WebSetting", "volume", -1) != 37)
        abort();
    if (ini.ReadString("WebSetting", "Url", "<none>") != url)
        abort();
    return 0;
}
