#include <windows.h>

#include <dbghelp.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "app/CrashHandler.h"
#include "app/Helpers.h"
#include "app/ModuleDir.h"

// Windows writes the crash record as a minidump, the system's own form for a
// debugger to open, from an unhandled-exception filter: the same name under
// Error\ beside the program as the Linux record, [<program>][YYYYMMDDhhmmss-
// <version>].dmp. Everything the filter needs is worked out at install, so a
// crash that has damaged the heap still gets its record.

namespace {

wchar_t s_folder[MAX_PATH];   // "<program folder>Error\"
wchar_t s_program[MAX_PATH];  // file name of the executable
wchar_t s_version[64];
bool s_installed = false;
LPTOP_LEVEL_EXCEPTION_FILTER s_previous = nullptr;
std::atomic<bool> s_crashing{false};

void CopyText(wchar_t* to, size_t size, const std::wstring& from) {
    const size_t n = from.size() < size - 1 ? from.size() : size - 1;
    from.copy(to, n);
    to[n] = L'\0';
}

// The folder and any missing parents, without touching the heap.
void MakeFolders() {
    wchar_t folder[MAX_PATH];
    std::wmemcpy(folder, s_folder, MAX_PATH);
    for (wchar_t* p = folder + 1; *p != L'\0'; ++p) {
        if ((*p == L'/' || *p == L'\\') && p[-1] != L':') {
            const wchar_t separator = *p;
            *p = L'\0';
            ::CreateDirectoryW(folder, nullptr);
            *p = separator;
        }
    }
}

struct Crash {
    EXCEPTION_POINTERS* exception;
    DWORD threadId;
};

void WriteRecord(const Crash& crash) {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    wchar_t path[MAX_PATH * 2];
    const int length = std::swprintf(path, sizeof(path) / sizeof(path[0]),
                                     L"%ls[%ls][%04u%02u%02u%02u%02u%02u-%ls].dmp", s_folder,
                                     s_program, local.wYear, local.wMonth, local.wDay, local.wHour,
                                     local.wMinute, local.wSecond, s_version);
    if (length < 0) {
        return;  // cut: better no record than one under a wrong name
    }
    MakeFolders();
    HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION where{};
    where.ThreadId = crash.threadId;
    where.ExceptionPointers = crash.exception;
    where.ClientPointers = FALSE;
    // The memory the stacks point into as well, so that the dump shows the
    // objects the crashed code was working on.
    const auto type =
        static_cast<MINIDUMP_TYPE>(MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory);
    ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, type,
                        crash.exception != nullptr ? &where : nullptr, nullptr, nullptr);
    ::FlushFileBuffers(file);
    ::CloseHandle(file);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
    if (s_crashing.exchange(true)) {
        // Another thread is writing the record; it ends the process.
        for (;;) {
            ::Sleep(INFINITE);
        }
    }
    // Written on a thread of its own: a thread that died of a stack overflow
    // has no room left for the dump writer.
    Crash crash{exception, ::GetCurrentThreadId()};
    HANDLE writer = ::CreateThread(
        nullptr, 0,
        [](void* data) -> DWORD {
            WriteRecord(*static_cast<const Crash*>(data));
            return 0;
        },
        &crash, 0, nullptr);
    if (writer != nullptr) {
        ::WaitForSingleObject(writer, INFINITE);
        ::CloseHandle(writer);
    } else {
        WriteRecord(crash);
    }
    // The process ends with the exception's code, as without the filter
    // (but without the system's error report dialog).
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void InstallCrashHandler() {
    if (s_installed) {
        return;
    }
    const std::wstring executable = ModuleDir::Instance().ExecutablePath();
    const size_t slash = executable.find_last_of(L"/\\");
    CopyText(s_folder, MAX_PATH, GetModuleDir() + L"Error\\");
    CopyText(s_program, MAX_PATH,
             slash == std::wstring::npos ? executable : executable.substr(slash + 1));
    CopyText(s_version, sizeof(s_version) / sizeof(s_version[0]), Utf8ToWide(GetAppVersion()));
    s_previous = ::SetUnhandledExceptionFilter(OnUnhandledException);
    s_installed = true;
}

void RemoveCrashHandler() {
    if (!s_installed) {
        return;
    }
    ::SetUnhandledExceptionFilter(s_previous);
    s_previous = nullptr;
    s_installed = false;
}
