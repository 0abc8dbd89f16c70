#include "app/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "app/Clock.h"
#include "app/Helpers.h"
#include "app/ModuleDir.h"

namespace {

// Everything the handler needs is prepared at install time: in the handler
// only async-signal-safe calls are made (no allocation, no stdio).
constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

char s_folder[PATH_MAX];       // "<program folder>/Error/"
char s_program[NAME_MAX + 1];  // file name of the executable
char s_version[64];
char s_executable[PATH_MAX];
bool s_installed = false;
struct sigaction s_previous[kSignalCount];
std::atomic<bool> s_crashing{false};

// Room for the handler to run when the crash is a stack overflow.
alignas(16) char s_altStack[64 * 1024];

void CopyText(char* to, size_t size, const std::string& from) {
    const size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// A tiny append-only text buffer on the handler's stack.
struct Line {
    char text[512];
    size_t size = 0;

    Line& Add(const char* s) {
        while (*s != '\0' && size < sizeof(text) - 1) {
            text[size++] = *s++;
        }
        text[size] = '\0';
        return *this;
    }
    Line& Number(unsigned long long value, unsigned base = 10, int width = 1) {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value != 0 && n < 32);
        while (n < width && n < 32) {
            digits[n++] = '0';
        }
        while (n > 0 && size < sizeof(text) - 1) {
            text[size++] = digits[--n];
        }
        text[size] = '\0';
        return *this;
    }
    Line& Signed(long long value) {
        if (value < 0) {
            Add("-");
            return Number(static_cast<unsigned long long>(-(value + 1)) + 1);
        }
        return Number(static_cast<unsigned long long>(value));
    }
};

void WriteLine(int fd, const Line& line) {
    size_t done = 0;
    while (done < line.size) {
        const ssize_t n = ::write(fd, line.text + done, line.size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGABRT:
            return "SIGABRT";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        default:
            return "?";
    }
}

// Creates the folder and any missing parent; a path that exists as a file
// makes this fail, and then no record is written.
void MakeFolders(char* path) {
    for (char* p = path + 1; *p != '\0'; ++p) {
        if (*p == '/') {
            *p = '\0';
            ::mkdir(path, 0755);
            *p = '/';
        }
    }
}

void WriteRecord(int sig, const siginfo_t* info) {
    // The local time of the crash. localtime_r is not on the async-signal-safe
    // list, but the time zone was loaded at install, so it only reads.
    const std::time_t now = Clock::Now();
    std::tm local{};
    ::localtime_r(&now, &local);

    Line path;
    path.Add(s_folder).Add("[").Add(s_program).Add("][");
    path.Number(static_cast<unsigned>(local.tm_year + 1900), 10, 4)
        .Number(static_cast<unsigned>(local.tm_mon + 1), 10, 2)
        .Number(static_cast<unsigned>(local.tm_mday), 10, 2)
        .Number(static_cast<unsigned>(local.tm_hour), 10, 2)
        .Number(static_cast<unsigned>(local.tm_min), 10, 2)
        .Number(static_cast<unsigned>(local.tm_sec), 10, 2);
    path.Add("-").Add(s_version).Add("].dmp");
    if (path.size >= sizeof(path.text) - 1) {
        return;  // cut: better no record than one under a wrong name
    }

    char folder[PATH_MAX];
    std::memcpy(folder, s_folder, sizeof(folder));
    MakeFolders(folder);
    const int fd = ::open(path.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    WriteLine(fd, Line().Add("crash record\nprogram: ").Add(s_executable).Add("\n"));
    WriteLine(fd, Line().Add("version: ").Add(s_version).Add("\n"));
    WriteLine(fd, Line()
                      .Add("pid: ")
                      .Number(static_cast<unsigned long long>(::getpid()))
                      .Add("\nthread: ")
                      .Number(static_cast<unsigned long long>(::syscall(SYS_gettid)))
                      .Add("\n"));
    WriteLine(fd, Line()
                      .Add("signal: ")
                      .Number(static_cast<unsigned>(sig))
                      .Add(" (")
                      .Add(SignalName(sig))
                      .Add(")\ncode: ")
                      .Signed(info != nullptr ? info->si_code : 0)
                      .Add("\n"));
    const auto address = info != nullptr ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
    WriteLine(fd, Line().Add("fault address: 0x").Number(address, 16).Add("\nbacktrace:\n"));
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::fsync(fd);
    ::close(fd);
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
    const int savedErrno = errno;
    if (s_crashing.exchange(true)) {
        // Another thread is writing the record; it ends the process.
        for (;;) {
            ::pause();
        }
    }
    WriteRecord(sig, info);
    // The record replaces a core dump; the signal still ends the process, so
    // whoever started the program sees how it died.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    ::signal(sig, SIG_DFL);
    errno = savedErrno;
    // A fault re-runs the faulting instruction on return and dies of it now;
    // a raised or sent signal needs raising again.
    if (info == nullptr || info->si_code <= 0) {
        ::raise(sig);
    }
}

}  // namespace

void InstallCrashHandler() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);

    if (s_installed) {
        return;
    }
    const std::wstring executable = ModuleDir::Instance().ExecutablePath();
    const size_t slash = executable.find_last_of(L'/');
    CopyText(s_folder, sizeof(s_folder), WideToAnsi(GetModuleDir()) + "Error/");
    CopyText(s_program, sizeof(s_program),
             WideToAnsi(slash == std::wstring::npos ? executable : executable.substr(slash + 1)));
    CopyText(s_version, sizeof(s_version), GetAppVersion());
    CopyText(s_executable, sizeof(s_executable), WideToAnsi(executable));

    // The first backtrace loads the unwinder, which allocates; do it now.
    void* warmUp[4];
    ::backtrace(warmUp, 4);
    ::tzset();
    Clock::Now();

    stack_t stack{};
    stack.ss_sp = s_altStack;
    stack.ss_size = sizeof(s_altStack);
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    ::sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kSignals[i], &action, &s_previous[i]);
    }
    s_installed = true;
}

void RemoveCrashHandler() {
    if (!s_installed) {
        return;
    }
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kSignals[i], &s_previous[i], nullptr);
    }
    stack_t stack{};
    stack.ss_flags = SS_DISABLE;
    ::sigaltstack(&stack, nullptr);
    s_installed = false;
}
