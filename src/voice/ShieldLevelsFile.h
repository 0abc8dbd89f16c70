#pragma once

#include <string>

#include "voice/LevelsFile.h"

// The saved levels as a file (ShieldLevels.txt beside the program), replaced
// whole at each write so that a crash leaves the old text or the new.
class ShieldLevelsFile : public LevelsFile {
public:
    explicit ShieldLevelsFile(std::string path);

    bool Write(const std::string& text) override;
    void Remove() override;
    // What the file holds; empty when there is none.
    std::string Read() const;

private:
    std::string m_path;  // UTF-8
};
