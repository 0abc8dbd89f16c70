#pragma once

// Writes a crash record Error/[<program>][YYYYMMDDhhmmss-<version>].dmp (signal,
// fault address, backtrace) when the process dies of a fatal signal
// (SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL), then lets the signal end the
// process without a core dump. Also ignores SIGPIPE from then on, so a peer
// that goes away turns into a failed send instead of a dead program.
// Installed first at start-up, removed last at shutdown. On Windows
// (CrashHandlerMinidump.cpp) the record under that name is a minidump,
// written from an unhandled-exception filter.
void InstallCrashHandler();
// Puts back what the fatal signals did before InstallCrashHandler.
void RemoveCrashHandler();
