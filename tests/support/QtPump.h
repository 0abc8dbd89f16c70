#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// The process's QCoreApplication for tests that need Qt's event loop
// (socket notifiers, timers); created on first use and kept to the end.
inline QCoreApplication* TestApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "voice-test";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    return QCoreApplication::instance();
}

// Runs the event loop until `done` holds; false if it still did not after
// `boundMs` (a guard against hanging, not a speed check).
inline bool PumpUntil(const std::function<bool()>& done, int boundMs = 30000) {
    TestApplication();
    QElapsedTimer clock;
    clock.start();
    // Conditions may depend on sockets the loop does not watch: wake up often.
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (clock.elapsed() > boundMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
