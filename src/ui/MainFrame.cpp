#include "ui/MainFrame.h"
#include "ui/WindowHelpers.h"

#include "app/LogHelper.h"
#include "app/MainThread.h"
#include "app/VoiceServices.h"
#include "ui/MsgDialog.h"
#include "ui/SetDialog.h"
#include "ui/SkinArchive.h"
#include "ui/SkinBuilder.h"
#include "ui/SkinControls.h"
#include "ui/TrayMenuPlacement.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTimer>

MainFrame::MainFrame(VoiceServices& services, const LoginResult& login)
    : m_services(services), m_login(login) {
    connect(&m_services, &VoiceServices::LinkStateChanged, this, &MainFrame::OnLinkState);
}

MainFrame::~MainFrame() = default;

void MainFrame::InitWindow() {
    try {
        m_logo = FindControl<SkinLabel>(QStringLiteral("logo"));
        m_title = FindControl<QLabel>(QStringLiteral("labelTitle"));
        m_volume = FindControl<SkinSlider>(QStringLiteral("slider_Volume"));
        m_volumeLabel = FindControl<QLabel>(QStringLiteral("label_Volume"));
        m_shield = FindControl<SkinCheckBox>(QStringLiteral("check_Shield"));
        m_setBtn = FindControl<SkinButton>(QStringLiteral("setbtn"));
        m_noLink = FindControl(QStringLiteral("nolink"));
        m_linked = FindControl(QStringLiteral("linked"));
        if (m_title) {
            m_title->setText(QStringLiteral("Tallix语音端"));
        }
        OnLinkState(false);

        const int volume = m_services.Volume();
        if (m_logo) {
            m_logo->setBkImage(QStringLiteral("UI\\logo_qb.png"));
        }
        if (m_volume) {
            // Showing the stored value is no change by the user: nothing to save.
            const QSignalBlocker blocker(m_volume);
            m_volume->setValue(volume);
        }
        if (m_volumeLabel) {
            m_volumeLabel->setText(QString::number(volume));
        }
        if (m_volume) {
            connect(m_volume, &QSlider::sliderReleased, this, &MainFrame::OnVolumeReleased);
        }
        if (m_shield) {
            m_shield->setChecked(m_services.Shield());
        }
        AddExitButton();
        CreateTray();
    } catch (...) {
        LogError("异常发生  MainFrame::InitWindow");
    }
}

void MainFrame::OnListeningFailed() {
    QTimer::singleShot(0, this, [this] {
        ShowMessage(this, QStringLiteral("开启SOCKET失败，程序退出。"));
        Close(2);
    });
}

void MainFrame::CreateTray() {
    SkinBuilder builder;
    m_menu = qobject_cast<QMenu*>(builder.Build(QStringLiteral("xmls\\Menu_Tray.xml"), this));
    if (!m_menu) {
        // Without its layout the menu still offers the way out.
        m_menu = new QMenu(this);
        m_menu->addAction(QStringLiteral("显示界面"))
            ->setObjectName(QStringLiteral("Menu_Tray_Show"));
        m_menu->addAction(QStringLiteral("退出"))->setObjectName(QStringLiteral("Menu_Tray_Exit"));
    }
    connect(m_menu, &QMenu::triggered, this, [this](QAction* action) {
        // Queued, so the menu has closed before a handler runs a window of its own.
        const QString name = action->objectName();
        QMetaObject::invokeMethod(
            this, [this, name] { OnMenuClick(name); }, Qt::QueuedConnection);
    });
    // Made whether or not a tray is there: a panel may start after the
    // program, or come back after a restart.
    m_tray = new QSystemTrayIcon(this);
    m_tray->setIcon(QIcon(SkinArchive::Instance().Pixmap(QStringLiteral("UI\\logo_qb.png"))));
    m_tray->setToolTip(QStringLiteral("Tallix语音端"));
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A menu handed to the icon is the desktop's to open.
                if (reason == QSystemTrayIcon::Context && !m_tray->contextMenu()) {
                    OnShowMenu();
                }
            });
    // The toolkit tells nobody when a tray appears: a slow look is cheap.
    m_trayPoll = new QTimer(this);
    m_trayPoll->setInterval(2000);
    connect(m_trayPoll, &QTimer::timeout, this, [this] { UpdateTray(); });
    m_trayPoll->start();
    UpdateTray();
}

void MainFrame::AddExitButton() {
    auto* minButton = FindControl<SkinButton>(QStringLiteral("minbtn"));
    QWidget* bar = minButton ? minButton->parentWidget() : nullptr;
    auto* layout = bar ? qobject_cast<QBoxLayout*>(bar->layout()) : nullptr;
    if (!layout) {
        return;
    }
    m_exitBtn = new SkinButton(bar);
    m_exitBtn->setObjectName(QStringLiteral("exitbtn"));
    m_exitBtn->setFixedSize(minButton->minimumSize());
    m_exitBtn->setToolTip(QStringLiteral("退出"));
    m_exitBtn->setProperty("normalImage", QStringLiteral("UI\\closebtn_normal.png"));
    m_exitBtn->setProperty("hotImage", QStringLiteral("UI\\closebtn_hover.png"));
    m_exitBtn->setProperty("pushedImage", QStringLiteral("UI\\closebtn_push.png"));
    m_exitBtn->setCursor(minButton->cursor());
    m_exitBtn->setFocusPolicy(minButton->focusPolicy());
    layout->insertWidget(layout->indexOf(minButton) + 1, m_exitBtn);
    m_exitBtn->hide();
    HookControls(m_exitBtn);
}

bool MainFrame::UpdateTray() {
    const bool available = m_tray && QSystemTrayIcon::isSystemTrayAvailable();
    if (available && !m_tray->isVisible()) {
        // Who opens the menu depends on the kind of tray that has come.
        m_tray->setContextMenu(DesktopPlacesTrayMenus() ? m_menu : nullptr);
        m_tray->show();
    }
    if (m_exitBtn) {
        m_exitBtn->setVisible(!available);
    }
    return available;
}

void MainFrame::Notify(const TNotify& msg) {
    try {
        if (msg.type == QLatin1String("valuechanged")) {
            if (msg.sender && msg.sender == m_volume) {
                OnVolumeChange();
            }
            return;
        }
        WindowImplBase::Notify(msg);
    } catch (...) {
        LogError("异常发生  MainFrame::Notify");
    }
}

void MainFrame::OnClick(const TNotify& msg) {
    try {
        if (!msg.sender) {
            return;
        }
        if (msg.sender == m_shield) {
            OnShieldChange();
        } else if (msg.sender == m_setBtn) {
            OnSetting();
        } else if (msg.sender == m_exitBtn) {
            OnMenuExit();
        } else if (IsName(msg.sender, "minbtn")) {
            // Into the tray; without one the window could not come back, so
            // it only minimises. Asked at each press: trays come and go.
            if (UpdateTray()) {
                hide();
            } else {
                showMinimized();
            }
        } else {
            WindowImplBase::OnClick(msg);
        }
    } catch (...) {
        LogError("异常发生  MainFrame::OnClick");
    }
}

void MainFrame::OnVolumeChange() {
    try {
        if (!m_volume) {
            return;
        }
        const int volume = m_volume->value();
        // A drag passes every value on its way: the file is written once when
        // it ends (OnVolumeReleased), not with two syncs per pixel.
        m_services.SetVolume(volume, !m_volume->isSliderDown());
        if (m_volumeLabel) {
            m_volumeLabel->setText(QString::number(volume));
        }
    } catch (...) {
        LogError("异常发生  MainFrame::OnVolumeChange");
    }
}

void MainFrame::OnVolumeReleased() {
    try {
        if (m_volume) {
            m_services.SetVolume(m_volume->value());
        }
    } catch (...) {
        LogError("异常发生  MainFrame::OnVolumeReleased");
    }
}

void MainFrame::OnShieldChange() {
    try {
        // The box has already toggled when the click arrives: its state is the new value.
        m_services.SetShield(m_shield && m_shield->isChecked());
    } catch (...) {
        LogError("异常发生  MainFrame::OnShieldChange");
    }
}

void MainFrame::OnSetting() {
    try {
        if (m_setBtn) {
            m_setBtn->setEnabled(false);
        }
        int result = 0;
        {
            SetDialog dialog(m_login);
            m_setDialog = &dialog;
            dialog.Create(nullptr, QStringLiteral("SettingDialog"));
            dialog.CenterWindow();
            result = dialog.ShowModal();
            m_setDialog = nullptr;
        }
        if (result == SetDialog::kLoggedOut) {
            Close(1);
        }
        if (m_setBtn) {
            m_setBtn->setEnabled(true);
        }
    } catch (...) {
        m_setDialog = nullptr;
        if (m_setBtn) {
            m_setBtn->setEnabled(true);
        }
        LogError("异常发生  MainFrame::OnSetting");
    }
}

void MainFrame::OnShowMenu() {
    try {
        if (!m_menu) {
            return;
        }
        // The menu opens above and to the right of the cursor.
        const QPoint cursor = QCursor::pos();
        m_menu->popup(cursor - QPoint(0, m_menu->sizeHint().height()));
    } catch (...) {
        LogError("异常发生  MainFrame::OnShowMenu");
    }
}

void MainFrame::OnMenuClick(const QString& name) {
    try {
        if (name == QLatin1String("Menu_Tray_Show")) {
            OnMenuShow();
        } else if (name == QLatin1String("Menu_Tray_Exit")) {
            OnMenuExit();
        }
    } catch (...) {
        LogError("异常发生  MainFrame::OnMenuClick");
    }
}

void MainFrame::OnMenuShow() {
    try {
        showNormal();
        raise();
        activateWindow();
    } catch (...) {
        LogError("异常发生  MainFrame::OnMenuShow");
    }
}

void MainFrame::OnMenuExit() {
    try {
        // A message's own loop would keep this window's loop from ending.
        CloseOpenMessages();
        // The settings window has no owner and would outlive the loop it runs in.
        if (m_setDialog) {
            m_setDialog->Close(0);
        }
        Close(1);
    } catch (...) {
        LogError("异常发生  MainFrame::OnMenuExit");
    }
}

bool MainFrame::ServicesStarted() const {
    return m_services.Started();
}

void MainFrame::OnLinkState(bool reachable) {
    AssertMainThread();
    if (m_noLink) {
        m_noLink->setVisible(!reachable);
    }
    if (m_linked) {
        m_linked->setVisible(reachable);
    }
}

void MainFrame::closeEvent(QCloseEvent* event) {
    WindowImplBase::closeEvent(event);
    if (event->isAccepted()) {
        // However the window goes, an open settings window goes with it.
        if (m_setDialog) {
            m_setDialog->Close(0);
        }
        if (m_trayPoll) {
            m_trayPoll->stop();
        }
        if (m_tray) {
            m_tray->hide();
        }
    }
}
