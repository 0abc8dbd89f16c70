#include <sys/stat.h>

#include "app/Helpers.h"

void CreateDirs(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/' && path[i] != '\\') {
            continue;
        }
        std::string prefix = path.substr(0, i);
        for (char& c : prefix) {
            if (c == '\\') {
                c = '/';
            }
        }
        ::mkdir(prefix.c_str(), 0755);
    }
}
