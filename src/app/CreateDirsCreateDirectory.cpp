#include <windows.h>

#include "app/Helpers.h"

void CreateDirs(const std::string& path) {
    // Every folder on the way, by its wide name; one that is there already
    // fails quietly, as it should.
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/' && path[i] != '\\') {
            continue;
        }
        // A drive ("C:") is no folder to make.
        if (path[i - 1] == ':') {
            continue;
        }
        ::CreateDirectoryW(Utf8ToWide(path.substr(0, i)).c_str(), nullptr);
    }
}
