#pragma once

// Writes a crash record Error/[<program>][YYYYMMDDhhmmss-<version>].dmp (signal,
// fault address, backtrace) when the process dies of a fatal signal, then ends it.
void InstallCrashHandler();
void RemoveCrashHandler();
