#pragma once

#include "ui/WindowImplBase.h"

class QLabel;
class SettingList;
class SettingListItem;
class SkinButton;
class LoginResult;

// The settings window: the connection status, the pause-list editor (hidden by
// the layout) and logging out. Close codes: 5 logged out, 1 closed.
class SetDialog : public WindowImplBase {
    Q_OBJECT
public:
    static constexpr int kLoggedOut = 5;

    // `login`: the addresses and store name the window shows.
    explicit SetDialog(const LoginResult& login) : m_login(login) {}

    QString GetWindowClassName() const override { return QStringLiteral("SetDialog"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\SetDialog.xml"); }

    void FillPauseList();
    void SavePauseList();
    void ShowStatus();
    // Shows or hides the pause-list editor, growing the window to hold it.
    void ShowPauseList(bool show);

    SettingList* List() const { return m_list; }

protected:
    void InitWindow() override;
    void OnClick(const TNotify& msg) override;
    QWidget* CreateControl(const QString& className, QWidget* parent) override;

private:
    SettingListItem* RowOf(QWidget* control) const;
    void AddRow();

    const LoginResult& m_login;
    SettingList* m_list = nullptr;
    SkinButton* m_addBtn = nullptr;
    SkinButton* m_saveBtn = nullptr;
    SkinButton* m_exitBtn = nullptr;
    QLabel* m_server = nullptr;
    QLabel* m_local = nullptr;
    QLabel* m_name = nullptr;
    QWidget* m_pauseBlock = nullptr;
    QSize m_baseSize;
    QSize m_formSize;
};
