#pragma once

#include <QLatin1String>
#include <QWidget>

#include <string>

#include "app/LogHelper.h"

// Small pieces every window's handlers share.

// Writes one error line; handlers catch everything and report it this way.
inline void LogError(const std::string& line) {
    if (LogHelper* log = LogHelper::GetInstance()) {
        log->Error(line);
    }
}

// Control names are matched without regard to case, as the layouts spell them freely.
inline bool IsName(const QWidget* widget, const char* name) {
    return widget && widget->objectName().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}
