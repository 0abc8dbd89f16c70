#include "ui/SetDialog.h"
#include "ui/WindowHelpers.h"

#include "api/LoginResult.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/LoginRecord.h"
#include "ui/SettingList.h"
#include "ui/SettingListItem.h"
#include "ui/SkinControls.h"
#include "voice/PauseList.h"

#include <QLabel>

#include <string>
#include <vector>

QWidget* SetDialog::CreateControl(const QString& className, QWidget* parent) {
    if (className == QLatin1String("SettingList")) {
        return new SettingList(parent);
    }
    return nullptr;
}

void SetDialog::InitWindow() {
    try {
        m_list = FindControl<SettingList>(QStringLiteral("SettingList"));
        m_addBtn = FindControl<SkinButton>(QStringLiteral("addbtn"));
        m_saveBtn = FindControl<SkinButton>(QStringLiteral("savebtn"));
        m_exitBtn = FindControl<SkinButton>(QStringLiteral("exitbtn"));
        m_server = FindControl<QLabel>(QStringLiteral("server"));
        m_local = FindControl<QLabel>(QStringLiteral("local"));
        m_name = FindControl<QLabel>(QStringLiteral("name"));
        m_pauseBlock = FindControl(QStringLiteral("pauseBlock"));
        m_baseSize = size();
        m_formSize = Form() ? Form()->size() : QSize();
        FillPauseList();
        ShowStatus();
    } catch (...) {
        LogError("异常发生  SetDialog::InitWindow");
    }
}

void SetDialog::ShowPauseList(bool show) {
    if (!m_pauseBlock) {
        return;
    }
    m_pauseBlock->setVisible(show);
    // The layout fixes the window's size for the status view alone.
    const int extra = show ? m_pauseBlock->sizeHint().height() : 0;
    if (QWidget* form = Form()) {
        form->setFixedSize(m_formSize.width(), m_formSize.height() + extra);
    }
    setFixedSize(m_baseSize.width(), m_baseSize.height() + extra);
}

void SetDialog::FillPauseList() {
    if (!m_list) {
        return;
    }
    std::vector<std::string> names;
    if (!GetPauseProList(names)) {
        return;
    }
    for (const std::string& name : names) {
        const QString wide = QString::fromStdWString(AnsiToWide(name));
        m_list->clearSelection();
        SettingListItem* row = m_list->CreateRow();
        if (!row) {
            continue;
        }
        HookControls(row);
        row->SetName(wide);
        row->SetViewMode(true);
        if (!m_list->InsertRow(row)) {
            delete row;
        }
    }
}

void SetDialog::ShowStatus() {
    if (!m_server || !m_local || !m_name) {
        return;
    }
    QString server = QStringLiteral("收银端IP: ");
    QString local = QStringLiteral("语音端IP: ");
    QString name = QStringLiteral("门店名称: ");
    const LoginResult* login = &m_login;
    if (login->servicePort != 0 && login->localPort != 0) {
        server += QString::fromStdWString(Utf8ToWide(login->serviceIp)) + QLatin1Char(':') +
                  QString::number(login->servicePort);
        local += QString::fromStdWString(Utf8ToWide(login->localIp)) + QLatin1Char(':') +
                 QString::number(login->localPort);
        name += QString::fromStdWString(Utf8ToWide(login->realName));
    }
    m_server->setText(server);
    m_local->setText(local);
    m_name->setText(name);
}

void SetDialog::SavePauseList() {
    if (!m_list) {
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < m_list->RowCount(); ++i) {
        const SettingListItem* row = m_list->RowAt(i);
        // A row being edited still counts with its last confirmed name.
        const QString name = row ? row->LabelText() : QString();
        if (!name.isEmpty()) {
            names.push_back(WideToAnsi(name.toStdWString()));
        }
    }
    // An empty editor never wipes the file: there is nothing to tell an
    // unfilled list from a wish to clear it.
    if (!names.empty()) {
        SavePauseProList(names);
    }
}

void SetDialog::AddRow() {
    if (!m_list) {
        return;
    }
    m_list->clearSelection();
    SettingListItem* row = m_list->CreateRow();
    if (!row) {
        return;
    }
    HookControls(row);
    if (!m_list->InsertRow(row, 0)) {
        delete row;
        return;
    }
    if (row->NameEdit()) {
        row->NameEdit()->setFocus();
    }
}

SettingListItem* SetDialog::RowOf(QWidget* control) const {
    for (QWidget* w = control; w; w = w->parentWidget()) {
        if (auto* row = qobject_cast<SettingListItem*>(w)) {
            return row;
        }
    }
    return nullptr;
}

void SetDialog::OnClick(const TNotify& msg) {
    try {
        QWidget* sender = msg.sender;
        if (sender && sender == m_addBtn) {
            AddRow();
        } else if (sender && sender == m_saveBtn) {
            SavePauseList();
        } else if (sender && sender == m_exitBtn) {
            // The next start must not log in by itself again.
            if (!Logout()) {
                LogError("注销登录信息失败。");
            }
            Close(kLoggedOut);
            return;
        } else if (SettingListItem* row = RowOf(sender)) {
            if (IsName(sender, "editbtn")) {
                row->BeginEdit();
            } else if (IsName(sender, "deleteBtn")) {
                if (m_list) {
                    m_list->RemoveRow(row);
                }
            } else if (IsName(sender, "saveBtn")) {
                row->ConfirmEdit();
            } else if (IsName(sender, "cancelBtn")) {
                row->SetViewMode(true);
            }
        }
        WindowImplBase::OnClick(msg);
    } catch (...) {
        LogError("异常发生  SetDialog::OnClick");
    }
}
