// Writes the saved login of a program folder, so that the program started
// there logs in by itself (the whole-program figures of bench/run.sh).
//
//   save_login DIR TYPE ACCOUNT PASSWORD STAFF PORT
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/Helpers.h"
#include "app/LoginRecord.h"
#include "app/ModuleDir.h"

namespace {
class FolderOf : public ModuleDir {
public:
    explicit FolderOf(std::string dir) : m_dir(std::move(dir)) {}
    std::wstring ExecutablePath() const override { return Utf8ToWide(m_dir + "/Voice"); }

private:
    std::string m_dir;
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: save_login DIR TYPE ACCOUNT PASSWORD STAFF PORT\n");
        return 2;
    }
    ModuleDir::Install(std::make_unique<FolderOf>(argv[1]));
    if (!SaveLoginRecord(std::atoi(argv[2]), true, argv[3], argv[4], argv[5], argv[6])) {
        std::fprintf(stderr, "save_login: cannot write the saved login in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
