#pragma once

#include <string>

namespace log4cpp {
class Category;
}

// The program's one logger: every line to standard output and to
// log/YYYY-MM-DD.log in the program folder (the day the logger was created).
// A message is always written as it is, never used as a format.
class LogHelper {
public:
    static LogHelper* GetInstance();
    // Shutdown: flushes and closes the appenders and releases the instance.
    static void Destroy();

    void Error(const std::string& message);
    void Info(const std::string& message);
    // Written only while the debug switch is on.
    void Debug(const std::string& message);
    // Whether debug lines are written now (for callers building costly texts).
    static bool DebugEnabled();
    // The debug switch, asked at each debug line: handed in by whoever owns
    // the settings (the logger knows nothing of them); none, or nullptr: off.
    using DebugSwitch = bool (*)();
    static void FollowDebugSwitch(DebugSwitch on);

    LogHelper(const LogHelper&) = delete;
    LogHelper& operator=(const LogHelper&) = delete;

private:
    // Its one instance is made and released there.
    template <class>
    friend class SingletonSlot;
    LogHelper();
    ~LogHelper();

    log4cpp::Category& m_root;
};
