#include "app/LogHelper.h"

#include <sys/stat.h>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

#include <cstdio>
#include <ctime>
#include <iostream>

#include "app/Clock.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"

namespace {
LogHelper* s_instance = nullptr;
const char* const kPattern = "%d: %p %c %x:%m%n";
}  // namespace

LogHelper* LogHelper::GetInstance() {
    if (s_instance == nullptr) {
        s_instance = new LogHelper();
    }
    return s_instance;
}

void LogHelper::Destroy() {
    delete s_instance;
    s_instance = nullptr;
}

LogHelper::LogHelper() : m_root(log4cpp::Category::getRoot()) {
    auto* consoleLayout = new log4cpp::PatternLayout();
    consoleLayout->setConversionPattern(kPattern);
    auto* fileLayout = new log4cpp::PatternLayout();
    fileLayout->setConversionPattern(kPattern);

    auto* console = new log4cpp::OstreamAppender("osAppender", &std::cout);
    console->setLayout(consoleLayout);

    // The file is named by the day the logger was created and is never rotated.
    const std::string folder = WideToAnsi(GetModuleDir()) + "log/";
    ::mkdir(folder.c_str(), 0755);
    const std::time_t now = Clock::Now();
    std::tm local{};
    ::localtime_r(&now, &local);
    char name[32];
    std::snprintf(name, sizeof(name), "%04d-%02d-%02d.log", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    auto* file = new log4cpp::FileAppender("fileAppender", folder + name, true, 0644);
    file->setLayout(fileLayout);

    m_root.setPriority(log4cpp::Priority::DEBUG);
    m_root.addAppender(console);
    m_root.addAppender(file);
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
    const IniHelper* ini = IniHelper::Peek();
    return ini != nullptr && ini->Settings().debug.load();
}
