#include "app/LogHelper.h"

#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>

#include "app/Clock.h"
#include "app/Helpers.h"
#include "app/LogFile.h"
#include "app/SingletonSlot.h"

namespace {
SingletonSlot<LogHelper> s_slot;
// A plain function, so that any thread reads it without a lock.
std::atomic<LogHelper::DebugSwitch> s_debugSwitch{nullptr};
const char* const kPattern = "%d: %p %c %x:%m%n";
}  // namespace

LogHelper* LogHelper::GetInstance() {
    return s_slot.GetOrCreate([] { return new LogHelper(); });
}

void LogHelper::Destroy() {
    s_slot.Destroy();
}

LogHelper::LogHelper() : m_root(log4cpp::Category::getRoot()) {
    auto* consoleLayout = new log4cpp::PatternLayout();
    consoleLayout->setConversionPattern(kPattern);
    auto* fileLayout = new log4cpp::PatternLayout();
    fileLayout->setConversionPattern(kPattern);

    // Each line reaches a pipe or file as soon as it is written, as it does a
    // terminal, so a watcher sees it at once and a crash loses none.
    std::cout << std::unitbuf;
    auto* console = new log4cpp::OstreamAppender("osAppender", &std::cout);
    console->setLayout(consoleLayout);

    // The file is named by the day the logger was created and is never rotated.
    const std::string folder = WideToAnsi(GetModuleDir()) + "log/";
    const std::tm local = LocalTime(Clock::Now());
    char name[32];
    std::snprintf(name, sizeof(name), "%04d-%02d-%02d.log", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    // Opened here rather than by the appender so that the descriptor is not
    // inherited by the updater we start. A folder or file that cannot be made
    // leaves standard output as the only place lines go.
    const int fd = OpenLogFile(folder, name);
    log4cpp::FileAppender* file = nullptr;
    if (fd >= 0) {
        file = new log4cpp::FileAppender("fileAppender", fd);
        file->setLayout(fileLayout);
    } else {
        delete fileLayout;
    }

    m_root.setPriority(log4cpp::Priority::DEBUG);
    m_root.addAppender(console);
    if (file != nullptr) {
        m_root.addAppender(file);
    }
}

LogHelper::~LogHelper() {
    // Closes and frees both appenders; lines are flushed as they are written.
    m_root.removeAllAppenders();
}

void LogHelper::Error(const std::string& message) {
    m_root.error(message);
}

void LogHelper::Info(const std::string& message) {
    m_root.info(message);
}

void LogHelper::Debug(const std::string& message) {
    if (DebugEnabled()) {
        m_root.debug(message);
    }
}

bool LogHelper::DebugEnabled() {
    const DebugSwitch on = s_debugSwitch.load();
    return on != nullptr && on();
}

void LogHelper::FollowDebugSwitch(DebugSwitch on) {
    s_debugSwitch.store(on);
}
