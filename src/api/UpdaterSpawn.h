#pragma once

#include <string>

// Starts the updater `program` (a full path, UTF-8) detached from us, with the
// arguments "start", the update address and our process id, by the build's
// own means (UpdaterSpawnFork.cpp, UpdaterSpawnShellExecute.cpp). Nothing
// happens when there is no updater to start: the program simply runs on.
void SpawnUpdater(const std::string& program, const std::string& address);
