#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "app/Helpers.h"
#include "app/LogFile.h"

int OpenLogFile(const std::string& folder, const std::string& name) {
    ::CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr);
    // Binary, so that the lines keep the ends the layout gives them.
    return ::_wopen(Utf8ToWide(folder + name).c_str(),
                    _O_WRONLY | _O_CREAT | _O_APPEND | _O_NOINHERIT | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_s(&local, &time);
    return local;
}
