// A desktop with a StatusNotifier tray (every Wayland desktop with a tray,
// and X11 desktops that offer one) opens the tray menu itself: the icon must
// hand it the menu, or the menu may never show while the window is hidden.
// A private session bus with a tray watcher stands for the desktop; the menu's
// entries are chosen over D-Bus as the desktop's tray chooses them.

#include "UiTestEnv.h"
#include "api/LoginResult.h"
#include "app/IniHelper.h"
#include "app/VoiceServices.h"
#include "link/SocketHelper.h"
#include "support/CommandOutput.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "ui/MainFrame.h"
#include "ui/SkinControls.h"
#include "voice/PlayHelper.h"

#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace {

const std::string kWatcher = std::string(VOICE_BINARY_DIR) + "/tests/StatusNotifierWatcher";

std::string RunAsync(const std::string& command) {
    // The program answers on this thread: the call must not block it.
    auto result = std::async(std::launch::async, [command] { return CommandOutput(command); });
    PumpUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return result.get();
}

// Waits without an event loop: the application comes later.
void WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class StatusNotifierTrayTest : public ::testing::Test {
protected:
    // The bus and the watcher come before the application: the toolkit picks
    // its kind of tray once, from the session bus it finds at its first use.
    static void SetUpTestSuite() {
        s_dir = new TempProgramDir;
        s_bus = new SpawnedProcess;
        s_watcher = new SpawnedProcess;
        if (!s_bus->Start({"dbus-daemon", "--session", "--nofork", "--print-address=1"},
                          {{}, "", s_dir->File("bus.address"), ""})) {
            return;
        }
        WaitFor([] { return s_dir->Read("bus.address").find('\n') != std::string::npos; });
        const std::string address = s_dir->Read("bus.address");
        setenv("DBUS_SESSION_BUS_ADDRESS", address.substr(0, address.find('\n')).c_str(), 1);
        StartWatcher();
        WaitFor(WatcherReady);
    }
    static void TearDownTestSuite() {
        delete s_watcher;
        delete s_bus;
        delete s_dir;
    }

    void SetUp() override {
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if (platform && std::string(platform) == "offscreen") {
            GTEST_SKIP() << "offscreen has no tray at all";
        }
        ASSERT_NE(s_dir->Read("watcher.out").find("ready"), std::string::npos)
            << "the tray watcher did not start";
        ASSERT_TRUE(UiApplication());
    }
    void TearDown() override {
        SocketHelper::Destroy();
        *LoginResult::GetInstance() = LoginResult();
    }

    static std::string Item() {
        const std::string out = s_dir->Read("watcher.out");
        const auto start = out.find("ready\n") + 6;
        return start < out.size() ? out.substr(start, out.find('\n', start) - start) : "";
    }
    // Chooses the entry labelled `label` of the item's menu, as the tray does.
    static bool Choose(const std::string& item, const QString& label) {
        const std::string call = "gdbus call --session --dest " + item;
        const QString menuPath =
            QString::fromStdString(RunAsync(call + " --object-path /StatusNotifierItem --method "
                                                   "org.freedesktop.DBus.Properties.Get "
                                                   "org.kde.StatusNotifierItem Menu 2>&1"))
                .section(QLatin1Char('\''), 1, 1);
        const QString layout = QString::fromStdString(
            RunAsync(call + " --object-path " + menuPath.toStdString() +
                     " --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' 2>&1"));
        const QRegularExpression entry(QStringLiteral("\\((\\d+), \\{[^}]*'label': <'") +
                                       QRegularExpression::escape(label) + QLatin1Char('\''));
        const QRegularExpressionMatch match = entry.match(layout);
        if (!match.hasMatch()) {
            ADD_FAILURE() << "no entry " << label.toStdString() << " in " << layout.toStdString();
            return false;
        }
        const std::string answer =
            RunAsync(call + " --object-path " + menuPath.toStdString() +
                     " --method com.canonical.dbusmenu.Event " + match.captured(1).toStdString() +
                     " \"'clicked'\" '<0>' 0 2>&1");
        EXPECT_EQ(answer, "()\n") << layout.toStdString();
        return answer == "()\n";
    }

    // The desktop's panel starting (again), its items listed afresh.
    static void StartWatcher() {
        std::remove(s_dir->File("watcher.out").c_str());
        s_watcher->Start({kWatcher}, {{}, "", s_dir->File("watcher.out"), ""});
    }
    static bool WatcherReady() {
        return s_dir->Read("watcher.out").find("ready") != std::string::npos;
    }

    static TempProgramDir* s_dir;
    static SpawnedProcess* s_bus;
    static SpawnedProcess* s_watcher;
};

TempProgramDir* StatusNotifierTrayTest::s_dir = nullptr;
SpawnedProcess* StatusNotifierTrayTest::s_bus = nullptr;
SpawnedProcess* StatusNotifierTrayTest::s_watcher = nullptr;

TEST_F(StatusNotifierTrayTest, MenuIsHandedToTheIconAndBothEntriesWorkThroughTheTray) {
    FakeWebApi api("{}");
    ASSERT_TRUE(api.Running()) << api.Error();
    IniHelper::Destroy();
    s_dir->Write("Setting.ini", "[WebSetting]\nUrl=" + api.BaseUrl() + "\n");
    std::wstring error;
    ASSERT_TRUE(SocketHelper::GetInstance()->BindPort(FreeLoopbackPort(), error));
    VoiceServices services(*IniHelper::GetInstance(), *LoginResult::GetInstance(),
                           *SocketHelper::GetInstance(), *PlayHelper::GetInstance({}));
    MainFrame frame(services, *LoginResult::GetInstance());
    frame.Create(nullptr, QStringLiteral("Tallix语音端"));
    ASSERT_TRUE(services.Start());
    ASSERT_NE(frame.Tray(), nullptr);
    EXPECT_TRUE(frame.Tray()->isVisible()) << "a StatusNotifier tray is there";
    EXPECT_EQ(frame.Tray()->contextMenu(), frame.TrayMenu());

    bool hidden = false;
    bool shownAgain = false;
    WhenShown<MainFrame>([&](MainFrame* shown) {
        ASSERT_TRUE(PumpUntil([] { return !Item().empty(); }, 10000))
            << "the icon never registered";
        QTest::mouseClick(shown->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        hidden = !shown->isVisible();
        ASSERT_TRUE(Choose(Item(), QStringLiteral("显示界面")));
        shownAgain = PumpUntil([&] { return shown->isVisible(); }, 5000);
        ASSERT_TRUE(Choose(Item(), QStringLiteral("退出")));
    });
    GuardOpenWindow(&frame, "the main window");
    EXPECT_EQ(frame.ShowModal(), 1);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(shownAgain);
}

// A panel that starts after the window opened (or restarts): until it is
// there the – button only minimises and the window offers its own exit;
// then the icon shows in it, the – button hides into it and its "退出" ends
// the program. The toolkit picks its kind of tray once, at its first look,
// which here is while the panel of the session was still up.
TEST_F(StatusNotifierTrayTest, TrayThatAppearsAfterTheWindowGetsTheIcon) {
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    FakeWebApi api("{}");
    ASSERT_TRUE(api.Running()) << api.Error();
    IniHelper::Destroy();
    s_dir->Write("Setting.ini", "[WebSetting]\nUrl=" + api.BaseUrl() + "\n");
    std::wstring error;
    ASSERT_TRUE(SocketHelper::GetInstance()->BindPort(FreeLoopbackPort(), error));
    s_watcher->Stop();
    ASSERT_TRUE(PumpUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));

    VoiceServices services(*IniHelper::GetInstance(), *LoginResult::GetInstance(),
                           *SocketHelper::GetInstance(), *PlayHelper::GetInstance({}));
    MainFrame frame(services, *LoginResult::GetInstance());
    frame.Create(nullptr, QStringLiteral("Tallix语音端"));
    ASSERT_TRUE(services.Start());
    bool iconWaited = false;
    bool exitOfferedWithoutTray = false;
    bool minimisedStillShown = false;
    bool iconShown = false;
    bool exitGoneWithTray = false;
    bool hidden = false;
    WhenShown<MainFrame>([&](MainFrame* shown) {
        auto* exit = shown->FindControl<SkinButton>(QStringLiteral("exitbtn"));
        ASSERT_NE(exit, nullptr);
        iconWaited = !shown->Tray()->isVisible();
        exitOfferedWithoutTray = exit->isVisible();
        QTest::mouseClick(shown->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        minimisedStillShown = shown->isVisible();
        shown->showNormal();

        StartWatcher();
        ASSERT_TRUE(PumpUntil([] { return !Item().empty(); }, 15000))
            << "the icon never registered with the panel that came";
        iconShown = shown->Tray()->isVisible();
        exitGoneWithTray = PumpUntil([exit] { return !exit->isVisible(); }, 10000);
        QTest::mouseClick(shown->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        hidden = !shown->isVisible();
        ASSERT_TRUE(Choose(Item(), QStringLiteral("退出")));
    });
    GuardOpenWindow(&frame, "the main window");
    EXPECT_EQ(frame.ShowModal(), 1);
    if (!WatcherReady()) {
        StartWatcher();  // the other tests want their panel
    }
    EXPECT_TRUE(iconWaited);
    EXPECT_TRUE(exitOfferedWithoutTray);
    EXPECT_TRUE(minimisedStillShown);
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(exitGoneWithTray);
    EXPECT_TRUE(hidden);
}

}  // namespace
