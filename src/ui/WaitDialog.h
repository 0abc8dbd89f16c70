#pragma once

#include "ui/WindowImplBase.h"

// The small modal "please wait" window shown while a login runs. Only the
// login worker's close request ends it: the keyboard cannot.
class WaitDialog : public WindowImplBase {
    Q_OBJECT
public:
    WaitDialog() = default;

    QString GetWindowClassName() const override { return QStringLiteral("WaitDialog"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\WaitDialog.xml"); }

protected:
    bool MessageHandler(QEvent* event) override;
    bool AllowSystemClose() const override { return false; }
};
