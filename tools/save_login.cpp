// Writes the saved login (SystemInfo.xml) into a program folder with automatic
// login switched on, exactly as the login window would after a successful
// login, so the demo can start the program already logged in.
//
//   voice_save_login FOLDER USER PASSWORD PORT [STAFF]
//   voice_save_login FOLDER --logout
//
// With STAFF the record is a staff login (type 1), otherwise a boss login.
// --logout switches automatic login off again and keeps the rest, as the
// tray's logout does, so the next start shows the login window.

#include "app/LogHelper.h"
#include "app/LoginRecord.h"
#include "app/ModuleDir.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

bool IsPort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int value = std::stoi(text);
    return value >= 1 && value <= 65535;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool logout = argc == 3 && std::string(argv[2]) == "--logout";
    if (!logout && (argc < 5 || argc > 6)) {
        std::fprintf(stderr,
                     "usage: %s FOLDER USER PASSWORD PORT [STAFF]\n       %s FOLDER --logout\n",
                     argv[0], argv[0]);
        return 2;
    }
    std::error_code error;
    const std::filesystem::path dir = std::filesystem::absolute(argv[1], error);
    if (error || !std::filesystem::is_directory(dir)) {
        std::fprintf(stderr, "%s: not a folder: %s\n", argv[0], argv[1]);
        return 2;
    }
    if (logout) {
        ModuleDir::UseFolder(dir.string());
        // No saved login means nothing logs in by itself: done as well.
        const bool done = !std::filesystem::exists(dir / "SystemInfo.xml") || Logout();
        LogHelper::Destroy();
        if (!done) {
            std::fprintf(stderr, "%s: cannot write %s/SystemInfo.xml\n", argv[0], dir.c_str());
        }
        return done ? 0 : 1;
    }
    const std::string port = argv[4];
    if (!IsPort(port)) {
        std::fprintf(stderr, "%s: not a port (1-65535): %s\n", argv[0], argv[4]);
        return 2;
    }
    const std::string staff = argc == 6 ? argv[5] : "";
    ModuleDir::UseFolder(dir.string());
    const bool saved = SaveLoginRecord(staff.empty() ? 0 : 1, true, argv[2], argv[3], staff, port);
    LogHelper::Destroy();
    if (!saved) {
        std::fprintf(stderr, "%s: cannot write %s/SystemInfo.xml\n", argv[0], dir.c_str());
        return 1;
    }
    return 0;
}
