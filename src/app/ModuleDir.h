#pragma once

#include <memory>
#include <string>

// Where the program's own folder is. Every file the program reads or writes
// lies there, so tests point it at a temporary folder by installing their own
// instance; the program itself only ever uses the real one.
class ModuleDir {
public:
    virtual ~ModuleDir() = default;

    // The instance in use (the real one unless a test installed another).
    static const ModuleDir& Instance();
    // Replaces the instance; nullptr puts the real one back. Not thread-safe:
    // call before any thread that reads paths is started.
    static void Install(std::unique_ptr<ModuleDir> instance);
    // Installs an instance that answers `executable` as the executable's path:
    // tests, benchmarks, fuzz targets and the tools that write into another
    // program's folder use it. Same rules as Install.
    static void UseExecutable(std::wstring executable);
    // The same for "<folder>/Voice": the program as if it ran from `folder`
    // (UTF-8, without a trailing '/').
    static void UseFolder(const std::string& folder);

    // Full path of the running executable, decoded from the file system's
    // UTF-8 into wide characters.
    virtual std::wstring ExecutablePath() const;
};
