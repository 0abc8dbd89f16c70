#pragma once

#include <string>

// Unpacks Audio.zip beside the program into the program folder, then deletes it.
void UnpackAudioPack();
// True when the archive could be opened, whatever happened to single entries.
bool UnzipToFolder(const std::string& archivePath, const std::string& targetFolder);
