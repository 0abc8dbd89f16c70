#pragma once

#include <cstddef>
#include <string>

// Unpacks Audio.zip beside the program into the program folder. The pack is
// deleted only when every entry came out whole; otherwise it stays for the
// next start and one error line says what was wrong.
void UnpackAudioPack();

// What unpacking an archive came to.
struct UnzipReport {
    bool opened = false;       // the archive could be read at all
    size_t failed = 0;         // entries that could not be read or written whole
    std::string firstFailure;  // the first of them, with the reason
};
// Unpacks every entry it can into `targetFolder`; one that fails is skipped
// and the others still go. Entries left out on purpose (a name that cannot be
// placed inside the folder, a clip its owner made read-only) are no failure.
UnzipReport UnzipArchive(const std::string& archivePath, const std::string& targetFolder);
// True when the archive could be opened, whatever happened to single entries.
bool UnzipToFolder(const std::string& archivePath, const std::string& targetFolder);
