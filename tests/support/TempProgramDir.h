#pragma once

#include <string>

// A temporary program folder for one test: while it lives, the program's
// executable is "<folder>/Voice", so settings, saved login, logs and crash
// records land in the folder instead of beside the test binary. Teardown
// destroys the IniHelper and LogHelper singletons (if a test created them),
// puts the real ModuleDir and Clock back and removes the folder.
class TempProgramDir {
public:
    TempProgramDir();
    ~TempProgramDir();
    TempProgramDir(const TempProgramDir&) = delete;
    TempProgramDir& operator=(const TempProgramDir&) = delete;

    // The folder, without a trailing '/'.
    const std::string& Dir() const { return m_dir; }
    // "<folder>/<name>".
    std::string File(const std::string& name) const;
    // "<folder>/Voice", the executable path the program sees.
    std::string Executable() const { return File("Voice"); }

    // Whole-file helpers for fixtures: Read gives "" for a missing file.
    std::string Read(const std::string& name) const;
    void Write(const std::string& name, const std::string& content) const;
    bool Exists(const std::string& name) const;
    // Everything written to the program's log files so far.
    std::string LogText() const;

private:
    std::string m_dir;
};

// Makes the calling thread obey file permissions even when running as root,
// by giving up CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH for the life of the
// object. Does nothing for other users, who obey them anyway.
class ObeyPermissions {
public:
    ObeyPermissions();
    ~ObeyPermissions();
    ObeyPermissions(const ObeyPermissions&) = delete;
    ObeyPermissions& operator=(const ObeyPermissions&) = delete;

private:
    bool m_lowered = false;
};

// Makes a folder unwritable for the life of the object, also for root: the
// folder becomes 0555 and, when running as root, the calling thread gives up
// CAP_DAC_OVERRIDE (restored afterwards). Effective() tells whether writing
// into the folder really fails now, so a test can skip where the platform
// does not allow either.
class ReadOnlyDir {
public:
    explicit ReadOnlyDir(std::string dir);
    ~ReadOnlyDir();
    ReadOnlyDir(const ReadOnlyDir&) = delete;
    ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;

    bool Effective() const { return m_effective; }

private:
    std::string m_dir;
    ObeyPermissions m_obey;
    bool m_effective = false;
};
