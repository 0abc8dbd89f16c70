#pragma once

#include <string>

// Points the program folder at a fresh temporary folder holding `settings` as
// its Setting.ini, so a benchmark never writes logs or settings into the tree.
// With BENCH_CLIPS set, the clips of that folder are copied into its Audio folder.
// Returns the folder; RemoveBenchProgramDir deletes it again.
std::string UseBenchProgramDir(const std::string& settings);
void RemoveBenchProgramDir();
