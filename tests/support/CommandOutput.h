#pragma once

#include <cstdio>
#include <string>

// What a shell command writes to standard output, once it has ended.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe)) {
            out += buffer;
        }
        pclose(pipe);
    }
    return out;
}
