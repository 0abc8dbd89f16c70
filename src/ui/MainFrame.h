#pragma once

#include "ui/SetDialog.h"
#include "ui/WindowImplBase.h"

#include <QPointer>

class QMenu;
class QSystemTrayIcon;
class QTimer;
class SkinButton;
class SkinCheckBox;
class SkinLabel;
class SkinSlider;
class QLabel;
class VoiceServices;
class LoginResult;

// The program's window while it runs: link display, volume and shield switch,
// the settings button, the tray icon. It shows what the voice services report
// and forwards the user's volume and shield to them; their owner starts and
// stops them. Closing it ends the program.
// Close codes: 1 the user left (tray "退出", the window's own exit button
// while no tray is there, logout), 2 listening failed.
class MainFrame : public WindowImplBase {
    Q_OBJECT
public:
    // `login` is what the settings window shows.
    MainFrame(VoiceServices& services, const LoginResult& login);
    ~MainFrame() override;

    QString GetWindowClassName() const override { return QStringLiteral("MainFrame"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\MainFrame.xml"); }

    void OnMenuClick(const QString& name);
    void OnMenuShow();
    void OnMenuExit();
    // The link check's verdict (delivered on the window's thread).
    void OnLinkState(bool reachable);
    // The services could not listen: told once the window is up, from the
    // main loop, then the window closes with code 2.
    void OnListeningFailed();

    // For the shell and tests: the tray menu and the settings window while open.
    QMenu* TrayMenu() const { return m_menu; }
    // Made always; shown while the desktop has a tray.
    QSystemTrayIcon* Tray() const { return m_tray; }
    // Whether a tray is there now, the icon shown in it; also shows the icon
    // of a tray that has appeared since the last look.
    bool UpdateTray();
    SetDialog* OpenSetDialog() const { return m_setDialog; }
    bool ServicesStarted() const;

protected:
    void InitWindow() override;
    void Notify(const TNotify& msg) override;
    void OnClick(const TNotify& msg) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnVolumeChange();
    void OnVolumeReleased();
    void OnShieldChange();
    void OnSetting();
    void OnShowMenu();
    void CreateTray();
    void AddExitButton();

    SkinLabel* m_logo = nullptr;
    QLabel* m_title = nullptr;
    SkinSlider* m_volume = nullptr;
    QLabel* m_volumeLabel = nullptr;
    SkinCheckBox* m_shield = nullptr;
    SkinButton* m_setBtn = nullptr;
    QWidget* m_noLink = nullptr;
    QWidget* m_linked = nullptr;

    VoiceServices& m_services;
    const LoginResult& m_login;

    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QTimer* m_trayPoll = nullptr;
    // Beside "minbtn" while no tray is there: the way out that keeps the
    // automatic login, which the tray's "退出" offers otherwise.
    SkinButton* m_exitBtn = nullptr;
    QPointer<SetDialog> m_setDialog;
};
