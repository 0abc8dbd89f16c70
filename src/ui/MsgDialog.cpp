#include "ui/MsgDialog.h"

#include "ui/SkinControls.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QScreen>

#include <algorithm>

void MsgDialog::InitWindow() {
    m_context = FindControl<SkinLabel>(QStringLiteral("LabelContext"));
    m_know = FindControl<SkinButton>(QStringLiteral("BtnKnow"));
    m_manu = FindControl<SkinButton>(QStringLiteral("BtnManu"));
    m_auto = FindControl<SkinButton>(QStringLiteral("BtnAuto"));
    m_close = FindControl<SkinButton>(QStringLiteral("closebtn"));
    if (Form()) {
        m_formHeight = Form()->minimumHeight();
    }
}

// A server's refusal (an expiry notice, say) must be read whole: the text
// wraps and the dialog grows down as far as the text needs, within the
// screen. Only a text taller than the screen is still cut with "…".
void MsgDialog::FitText() {
    QWidget* form = Form();
    if (!form || !form->layout() || m_formHeight <= 0) {
        return;
    }
    // The label's font and padding come with its style, applied at polish.
    ensurePolished();
    const int frame = height() - form->height();
    form->setFixedHeight(m_formHeight);
    setFixedHeight(m_formHeight + frame);
    // The layout's height at this width, the label's wrapped lines included.
    QLayout* layout = form->layout();
    const int needed = layout->hasHeightForWidth() ? layout->heightForWidth(form->width()) : 0;
    if (needed <= m_formHeight) {
        return;
    }
    QScreen* screen = Owner() ? Owner()->screen() : QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().height() - frame : needed;
    const int formHeight = std::max(m_formHeight, std::min(needed, room));
    form->setFixedHeight(formHeight);
    setFixedHeight(formHeight + frame);
    form->layout()->activate();
}

void MsgDialog::KeepOnScreen() {
    QScreen* screen = Owner() ? Owner()->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    // Centring a dialog as tall as the screen may put its edge a pixel out.
    const QRect area = screen->availableGeometry();
    move(std::clamp(x(), area.left(), std::max(area.left(), area.right() + 1 - width())),
         std::clamp(y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
}

void MsgDialog::SetText(const QString& text) {
    if (m_context) {
        m_context->setText(text);
        FitText();
        // The whole text stays readable on hover when even the screen was too small.
        m_context->setToolTip(m_context->shownText() != text ? text : QString());
    }
    if (m_know) {
        m_know->show();
    }
    if (m_manu) {
        m_manu->hide();
    }
    if (m_auto) {
        m_auto->hide();
    }
}

QString MsgDialog::Text() const {
    return m_context ? m_context->text() : QString();
}

void MsgDialog::OnClick(const TNotify& msg) {
    if (msg.sender && (msg.sender == m_close || msg.sender == m_know)) {
        Close(1);
    }
}

bool MsgDialog::MessageHandler(QEvent* event) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Close(1);
        return true;
    }
    return false;
}

void MsgDialog::OnFinalMessage() {
    deleteLater();
}

int ShowMessage(QWidget* parent, const QString& text) {
    auto* dialog = new MsgDialog;
    dialog->Create(parent ? parent->window() : nullptr, QStringLiteral("消息窗口"));
    // Centred once the text has given the dialog its height.
    dialog->SetText(text);
    dialog->CenterWindow();
    dialog->KeepOnScreen();
    return dialog->ShowModal();
}

void CloseOpenMessages() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<MsgDialog*>(widget); dialog && !dialog->IsClosed()) {
            dialog->Close(0);
        }
    }
}
