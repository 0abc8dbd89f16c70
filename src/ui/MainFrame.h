#pragma once

#include "link/LinkChecker.h"
#include "link/MessageReader.h"
#include "ui/SetDialog.h"
#include "ui/WindowImplBase.h"
#include "voice/AnnouncementComposer.h"
#include "voice/PlayThread.h"

#include <QPointer>
#include <QTimer>

#include <string>

class QMenu;
class QSystemTrayIcon;
class SkinButton;
class SkinCheckBox;
class SkinLabel;
class SkinSlider;
class QLabel;

// The program's window while it runs: link display, volume and shield switch,
// the settings button, the tray icon. It owns the listening socket's handler
// and the background services (play thread, link check, update timer); closing
// it ends the program.
// Close codes: 1 the user left (tray "退出", logout), 2 listening failed.
class MainFrame : public WindowImplBase {
    Q_OBJECT
public:
    static constexpr int kServicesDelayMs = 100;
    static constexpr int kUpdateIntervalMs = 6 * 60 * 60 * 1000;

    MainFrame();
    ~MainFrame() override;

    QString GetWindowClassName() const override { return QStringLiteral("MainFrame"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\MainFrame.xml"); }

    void OnTimer(int id);
    void OnMenuClick(const QString& name);
    void OnMenuShow();
    void OnMenuExit();
    // The link check's verdict (delivered on the window's thread).
    void OnLinkState(bool reachable);

    // For the shell and tests: the tray menu and the settings window while open.
    QMenu* TrayMenu() const { return m_menu; }
    SetDialog* OpenSetDialog() const { return m_setDialog; }
    bool ServicesStarted() const { return m_servicesStarted; }
    const std::wstring& UpdateUrl() const { return m_updateUrl; }

protected:
    void InitWindow() override;
    void Notify(const TNotify& msg) override;
    void OnClick(const TNotify& msg) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void StartServices();
    void StopServices();
    void OnVolumeChange();
    void OnShieldChange();
    void OnSetting();
    void OnShowMenu();
    void CreateTray();

    SkinLabel* m_logo = nullptr;
    QLabel* m_title = nullptr;
    SkinSlider* m_volume = nullptr;
    QLabel* m_volumeLabel = nullptr;
    SkinCheckBox* m_shield = nullptr;
    SkinButton* m_setBtn = nullptr;
    QWidget* m_noLink = nullptr;
    QWidget* m_linked = nullptr;

    AnnouncementComposer m_composer;
    MessageReader m_reader{m_composer};
    PlayThread m_playThread;
    LinkChecker m_linkChecker;
    QTimer m_servicesTimer;
    QTimer m_updateTimer;
    std::wstring m_updateUrl;
    bool m_servicesStarted = false;
    bool m_listening = false;

    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QPointer<SetDialog> m_setDialog;
};
