// The windows as a desktop treats them, run on each desktop the tests know
// (RunOnDesktop names it in VOICE_TEST_DESKTOP): a dialog belongs to its owner
// and stays above it when the owner is clicked, rounded corners and a shadow
// only where the desktop composes translucent windows, and the tray menu of an
// X11 XEmbed tray opened above the cursor with both entries working.

#include "UiTestEnv.h"
#include "api/LoginResult.h"
#include "app/IniHelper.h"
#include "app/VoiceServices.h"
#include "link/SocketHelper.h"
#include "support/CommandOutput.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "ui/LoginDialog.h"
#include "ui/MainFrame.h"
#include "ui/MsgDialog.h"
#include "ui/SkinControls.h"
#include "ui/WaitDialog.h"
#include "voice/PlayHelper.h"

#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Desktop() {
    const char* desktop = std::getenv("VOICE_TEST_DESKTOP");
    return desktop ? desktop : "offscreen";
}

bool OnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The window ids of an X property of type WINDOW, in their order.
std::vector<unsigned long> WindowIds(const std::string& xpropArgs) {
    const QString text =
        QString::fromStdString(CommandOutput("xprop -notype " + xpropArgs + " 2>/dev/null"));
    std::vector<unsigned long> ids;
    const QRegularExpression hex(QStringLiteral("0x[0-9a-fA-F]+"));
    for (auto it = hex.globalMatch(text.section(QLatin1Char('#'), 1)); it.hasNext();) {
        ids.push_back(it.next().captured().toULong(nullptr, 16));
    }
    return ids;
}

int StackPosition(WId window) {
    const auto stack = WindowIds("-root _NET_CLIENT_LIST_STACKING");
    for (size_t i = 0; i < stack.size(); ++i) {
        if (stack[i] == window) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// A real click, through the X server, as the window manager sees it.
void Click(const QPoint& global, int button = 1) {
    CommandOutput("xdotool mousemove --sync " + std::to_string(global.x()) + " " +
                  std::to_string(global.y()) + " click " + std::to_string(button));
}

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    PumpUntil([&] { return clock.elapsed() >= ms; });
}

class DesktopWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UiApplication()); }
    void TearDown() override {
        SocketHelper::Destroy();
        *LoginResult::GetInstance() = LoginResult();
    }
    TempProgramDir m_dir;
};

// What each desktop is known to do: weston and X11 with a compositing manager
// compose translucent windows; a bare X server and offscreen do not. Where
// composed, the shadow is opaque (the window below never shows through it)
// and the body, the wait dialog's included, is white up to its rounded edge,
// with no frame line of its own.
TEST_F(DesktopWindowsTest, RoundedCornersAndShadowOnlyWhereTheDesktopComposes) {
    const std::string desktop = Desktop();
    const bool composes = desktop == "wayland" || desktop == "x11-composited";
    LoginDialog login(*SocketHelper::GetInstance());
    login.Create(nullptr, QStringLiteral("登录"));
    WaitDialog wait;
    wait.Create(nullptr, QStringLiteral("WaitDialog"));
    auto* message = new MsgDialog;
    message->Create(nullptr, QStringLiteral("消息窗口"));
    for (WindowImplBase* window : std::initializer_list<WindowImplBase*>{&login, &wait, message}) {
        const char* name = window->metaObject()->className();
        EXPECT_EQ(window->Composed(), composes) << desktop << " " << name;
        const QImage image = window->grab().toImage();
        const QColor corner = image.pixelColor(0, 0);
        const int shadow = window->layout()->contentsMargins().top();
        const QColor body = image.pixelColor(image.width() / 2, 6);
        const QColor edge = image.pixelColor(image.width() / 2, shadow);
        EXPECT_EQ(body, QColor(Qt::white)) << desktop << " " << name;
        if (!composes) {
            // The square look: an opaque grey border around a white body.
            EXPECT_EQ(corner.alpha(), 255) << desktop << " " << name;
            EXPECT_EQ(edge, QColor(Qt::white)) << desktop << " " << name;
            continue;
        }
        EXPECT_EQ(corner.alpha(), 0) << desktop << " " << name;
        for (int y = 0; y < shadow; ++y) {
            const QColor ring = image.pixelColor(image.width() / 2, y);
            EXPECT_EQ(ring.alpha(), 255) << desktop << " " << name << " row " << y;
            EXPECT_NE(ring, QColor(Qt::white)) << desktop << " " << name << " row " << y;
        }
        EXPECT_EQ(edge, QColor(Qt::white)) << desktop << " " << name << " (a frame line)";
        // Rounded: the body's corner pixel is the shadow's, not the body's.
        EXPECT_NE(image.pixelColor(shadow, shadow), QColor(Qt::white)) << desktop << " " << name;
    }
    delete message;
}

// A message over the login window: the desktop is told whose dialog it is,
// centres it over its owner, and keeps it above the owner when the cashier
// clicks the owner (which used to raise the owner over it and hide it).
TEST_F(DesktopWindowsTest, DialogBelongsToItsOwnerAndStaysAboveItWhenTheOwnerIsClicked) {
    LoginDialog owner(*SocketHelper::GetInstance());
    owner.Create(nullptr, QStringLiteral("登录"));
    owner.CenterWindow();
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QWindow* transient = nullptr;
    std::vector<unsigned long> transientFor;
    int offset = -1;
    int ownerBefore = -1, dialogBefore = -1, ownerAfter = -1, dialogAfter = -1;
    WhenShown<MsgDialog>([&](MsgDialog* dialog) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        transient = dialog->windowHandle()->transientParent();
        if (OnX11()) {
            transientFor =
                WindowIds("-id " + std::to_string(dialog->winId()) + " WM_TRANSIENT_FOR");
            // Placed by the window manager a moment after mapping.
            PumpUntil(
                [&] {
                    const QPoint d = dialog->frameGeometry().center();
                    const QPoint o = owner.frameGeometry().center();
                    offset = (d - o).manhattanLength();
                    return offset <= 2;
                },
                5000);
            ownerBefore = StackPosition(owner.winId());
            dialogBefore = StackPosition(dialog->winId());
            // A spot of the owner well outside the dialog.
            Click(owner.mapToGlobal(QPoint(12, owner.height() - 12)));
            Settle(500);
            ownerAfter = StackPosition(owner.winId());
            dialogAfter = StackPosition(dialog->winId());
        }
        dialog->Close(1);
    });
    EXPECT_EQ(ShowMessage(&owner, QStringLiteral("端口被占用，请更换其它端口。")), 1);
    EXPECT_EQ(transient, owner.windowHandle());
    if (!OnX11()) {
        // Wayland hands placing and stacking to the compositor (weston keeps a
        // child above its parent); its headless backend has no pointer to click with.
        return;
    }
    EXPECT_EQ(transientFor, std::vector<unsigned long>{owner.winId()});
    EXPECT_LE(offset, 2);
    if (Desktop() == "offscreen" || StackPosition(owner.winId()) < 0) {
        return;  // no window manager keeps a stacking list
    }
    EXPECT_GT(dialogBefore, ownerBefore);
    EXPECT_GE(ownerAfter, 0);
    EXPECT_GT(dialogAfter, ownerAfter) << "the clicked owner was raised over its dialog";
}

// An X11 tray of the XEmbed kind (trayer) leaves the menu to the program: a
// right click on the icon opens it above the cursor, "显示界面" brings the
// hidden window back and "退出" ends it.
TEST_F(DesktopWindowsTest, XEmbedTrayMenuOpensAboveTheCursorAndBothEntriesWork) {
    if (!OnX11() || Desktop() == "offscreen") {
        GTEST_SKIP() << "needs an X11 desktop";
    }
    SpawnedProcess tray;
    ASSERT_TRUE(tray.Start({"trayer", "--edge", "bottom", "--align", "left", "--widthtype",
                            "request", "--expand", "false"},
                           {{}, "", "", m_dir.File("trayer.log")}));
    ASSERT_TRUE(PumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
        << m_dir.Read("trayer.log");
    FakeWebApi api("{}");
    ASSERT_TRUE(api.Running()) << api.Error();
    IniHelper::Destroy();
    m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + api.BaseUrl() + "\n");
    std::wstring error;
    ASSERT_TRUE(SocketHelper::GetInstance()->BindPort(FreeLoopbackPort(), error));
    VoiceServices services(*IniHelper::GetInstance(), *LoginResult::GetInstance(),
                           *SocketHelper::GetInstance(), *PlayHelper::GetInstance({}));
    MainFrame frame(services, *LoginResult::GetInstance());
    frame.Create(nullptr, QStringLiteral("Tallix语音端"));
    ASSERT_TRUE(services.Start());
    frame.CenterWindow();
    ASSERT_NE(frame.Tray(), nullptr);
    EXPECT_EQ(frame.Tray()->contextMenu(), nullptr) << "an XEmbed tray cannot place the menu";

    QPoint cursor;
    QRect menuAt;
    bool hidden = false;
    bool shownAgain = false;
    const auto openMenu = [&] {
        // The icon's window is made anew while it docks: look it up each time.
        const auto icon = [] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (QLatin1String(widget->metaObject()->className()) ==
                        QLatin1String("QSystemTrayIconSys") &&
                    widget->isVisible()) {
                    return widget;
                }
            }
            return static_cast<QWidget*>(nullptr);
        };
        if (!PumpUntil([&] { return icon() != nullptr; })) {
            return false;
        }
        Settle(300);  // docked into the tray
        QWidget* docked = icon();
        if (!docked) {
            return false;
        }
        cursor = docked->mapToGlobal(docked->rect().center());
        Click(cursor, 3);
        return PumpUntil([&] { return frame.TrayMenu()->isVisible(); }, 5000);
    };
    const auto choose = [&](const char* entry) {
        for (QAction* action : frame.TrayMenu()->actions()) {
            if (action->objectName() == QLatin1String(entry)) {
                Click(frame.TrayMenu()->mapToGlobal(
                    frame.TrayMenu()->actionGeometry(action).center()));
            }
        }
    };
    WhenShown<MainFrame>([&](MainFrame* shown) {
        QTest::mouseClick(shown->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        hidden = PumpUntil([&] { return !shown->isVisible(); }, 5000);
        ASSERT_TRUE(openMenu());
        menuAt = frame.TrayMenu()->geometry();
        choose("Menu_Tray_Show");
        shownAgain = PumpUntil([&] { return shown->isVisible() && !shown->isMinimized(); }, 5000);
        ASSERT_TRUE(openMenu());
        choose("Menu_Tray_Exit");
    });
    GuardOpenWindow(&frame, "the main window");
    EXPECT_EQ(frame.ShowModal(), 1);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(shownAgain);
    // Its bottom-left corner at the cursor: the menu opens above and to the right.
    EXPECT_LE(std::abs(menuAt.left() - cursor.x()), 2) << menuAt.left() << " " << cursor.x();
    EXPECT_LE(std::abs(menuAt.bottom() + 1 - cursor.y()), 2)
        << menuAt.bottom() << " " << cursor.y();
}

}  // namespace
