#include <fcntl.h>
#include <sys/stat.h>

#include "app/LogFile.h"

int OpenLogFile(const std::string& folder, const std::string& name) {
    ::mkdir(folder.c_str(), 0755);
    const std::string path = folder + name;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}
