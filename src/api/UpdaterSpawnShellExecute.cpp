#include <windows.h>

#include <shellapi.h>

#include "api/UpdaterSpawn.h"
#include "app/Helpers.h"

void SpawnUpdater(const std::string& program, const std::string& address) {
    const std::wstring file = Utf8ToWide(program);
    // A missing updater is no error worth a line: the program simply runs on.
    if (::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    // The shell's "open", as the updater expects to be started; it runs on its
    // own, never waited for. An address with blanks goes as one argument.
    std::wstring wideAddress = Utf8ToWide(address);
    if (wideAddress.find_first_of(L" \t") != std::wstring::npos) {
        wideAddress = L"\"" + wideAddress + L"\"";
    }
    const std::wstring arguments =
        L"start " + wideAddress + L" " + std::to_wstring(::GetCurrentProcessId());
    const std::wstring folder = GetModuleDir();
    ::ShellExecuteW(nullptr, L"open", file.c_str(), arguments.c_str(), folder.c_str(),
                    SW_SHOWNORMAL);
}
