#pragma once

#include <string>

// Where the levels saved before a lowering are kept until their restore
// succeeded. Tests hand in their own to see what was kept, and when.
class LevelsFile {
public:
    virtual ~LevelsFile() = default;
    // Replaces the kept text; false when it could not be written.
    virtual bool Write(const std::string& text) = 0;
    // Nothing kept any more.
    virtual void Remove() = 0;
};
