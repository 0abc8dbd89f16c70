#pragma once

#include <ctime>
#include <string>

// The system calls of the log file, by the build's mechanism (LogFileOpen.cpp,
// LogFileWopen.cpp).

// Makes `folder` (its parent, the program folder, is there) and opens `name`
// in it for appending, not inherited by the programs we start; -1 when the
// file cannot be opened.
int OpenLogFile(const std::string& folder, const std::string& name);
// The local time of `time`, read safely from any thread.
std::tm LocalTime(std::time_t time);
