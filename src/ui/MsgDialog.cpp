#include "ui/MsgDialog.h"

#include "ui/SkinControls.h"

#include <QKeyEvent>

void MsgDialog::InitWindow() {
    m_context = FindControl<SkinLabel>(QStringLiteral("LabelContext"));
    m_know = FindControl<SkinButton>(QStringLiteral("BtnKnow"));
    m_manu = FindControl<SkinButton>(QStringLiteral("BtnManu"));
    m_auto = FindControl<SkinButton>(QStringLiteral("BtnAuto"));
    m_close = FindControl<SkinButton>(QStringLiteral("closebtn"));
}

void MsgDialog::SetText(const QString& text) {
    if (m_context) {
        m_context->setText(text);
        // The whole text stays readable on hover when the dialog had to cut it.
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
    dialog->CenterWindow();
    dialog->SetText(text);
    return dialog->ShowModal();
}
