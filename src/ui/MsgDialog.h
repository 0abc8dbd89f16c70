#pragma once

#include "ui/WindowImplBase.h"

class SkinButton;
class SkinLabel;

// The program's own message box: a warning icon, one text and an acknowledge
// button. Always made on the heap by ShowMessage; it deletes itself when its
// window has gone.
class MsgDialog : public WindowImplBase {
    Q_OBJECT
public:
    MsgDialog() = default;

    QString GetWindowClassName() const override { return QStringLiteral("MsgDialog"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\MsgDialog.xml"); }

    void SetText(const QString& text);
    QString Text() const;
    // Moves the dialog back inside the available area of its screen.
    void KeepOnScreen();

protected:
    void InitWindow() override;
    void OnClick(const TNotify& msg) override;
    bool MessageHandler(QEvent* event) override;
    void OnFinalMessage() override;

private:
    void FitText();

    int m_formHeight = 0;  // the layout's own height, kept for short texts
    SkinLabel* m_context = nullptr;
    SkinButton* m_know = nullptr;
    SkinButton* m_manu = nullptr;
    SkinButton* m_auto = nullptr;
    SkinButton* m_close = nullptr;
};

// Shows `text` modally over `parent` (which takes no input meanwhile) and
// returns the close code: 1 after the button, the close button or Enter.
int ShowMessage(QWidget* parent, const QString& text);
// Closes every message dialog still open, with code 0: a quit must not wait
// for someone to acknowledge a message, whose own loop would keep the windows
// under it (and the program) alive.
void CloseOpenMessages();
