#pragma once

// Shared pieces of the window tests: the QApplication with the toolkit set up,
// a helper that acts on a window once it is shown (modal runs block the test's
// own code), and a catcher that reads and acknowledges every message dialog.

#include "support/QtPump.h"
#include "support/TempProgramDir.h"
#include "ui/MsgDialog.h"
#include "ui/UiToolkit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

inline QApplication* UiApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "voice-ui-test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        SetUpToolkit();
    }
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Calls `act` from inside the event loop with the first shown, still open
// window of type T; fails the test if none shows within a generous bound.
template <typename T>
void WhenShown(std::function<void(T*)> act, int boundMs = 30000) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act, boundMs] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<T*>(widget);
            if (window && window->isVisible() && !window->IsClosed()) {
                timer->stop();
                timer->deleteLater();
                act(window);
                return;
            }
        }
        if (clock->elapsed() > boundMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no " << T::staticMetaObject.className() << " was shown";
        }
    });
    timer->start(5);
}

// Calls `act` from inside the event loop once `ready` holds; fails the test if
// it does not within a generous bound. For what follows a modal run's end,
// which a fixed delay would race on a loaded machine.
inline void WhenReady(std::function<bool()> ready, std::function<void()> act, int boundMs = 30000) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, ready, act, boundMs] {
        const bool done = ready();
        if (done || clock->elapsed() > boundMs) {
            timer->stop();
            timer->deleteLater();
            if (!done) {
                ADD_FAILURE() << "the awaited state did not come";
            }
            act();
        }
    });
    timer->start(5);
}

// A guard against a window left open (a hang, not a speed check): after
// `boundMs` the test fails and the window is closed with -1.
inline void GuardOpenWindow(WindowImplBase* window, const char* what, int boundMs = 60000) {
    QTimer::singleShot(boundMs, window, [window, what] {
        ADD_FAILURE() << what << " was still open";
        window->Close(-1);
    });
}

// Acknowledges every message dialog with Enter as it appears, keeping its text
// and whether its owner took no input while it was shown.
class MessageCatcher {
public:
    MessageCatcher() {
        UiApplication();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<MsgDialog*>(widget);
                if (dialog && dialog->isVisible() && !dialog->IsClosed() &&
                    dialog->property("_caught").isNull()) {
                    dialog->setProperty("_caught", true);
                    m_texts.push_back(dialog->Text());
                    m_owners.push_back(dialog->windowHandle()
                                           ? dialog->windowHandle()->transientParent()
                                           : nullptr);
                    QTest::keyClick(dialog, Qt::Key_Return);
                }
            }
        });
        m_timer.start(5);
    }
    const QStringList& Texts() const { return m_texts; }
    // The window each dialog was given to as its transient parent (its owner
    // for the desktop), in the order the dialogs appeared.
    const QList<QWindow*>& Owners() const { return m_owners; }
    void Clear() {
        m_texts.clear();
        m_owners.clear();
    }

private:
    QTimer m_timer;
    QStringList m_texts;
    QList<QWindow*> m_owners;
};
