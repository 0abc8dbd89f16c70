#pragma once

#include <stdlib.h>

#include <fstream>
#include <string>

#include "app/ModuleDir.h"

// Every fuzzing process gets a program folder of its own under $TMPDIR, so the
// files a target writes (settings, saved login, log) never touch the tree.
// Creates the folder on first use, writes `settings` as its Setting.ini and
// installs it; later calls return the same folder.
inline const std::string& FuzzProgramDir(const std::string& settings = {}) {
    static const std::string dir = [&] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/voice-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        if (made == nullptr)
            abort();
        std::string d = made;
        if (!settings.empty()) {
            std::ofstream(d + "/Setting.ini", std::ios::binary) << settings;
        }
        ModuleDir::UseFolder(d);
        return d;
    }();
    return dir;
}

// Writes `size` bytes to `path` in one go, replacing the file.
inline void WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}
