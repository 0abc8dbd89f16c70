// The main window with its real services: the settings it shows and writes,
// the link display against the cashier simulator's listener, a cashier message
// answered through the window's socket handler, the tray menu, and the
// settings window opened from it.

#include "UiTestEnv.h"
#include "api/LoginResult.h"
#include "app/IniHelper.h"
#include "app/LoginRecord.h"
#include "app/VoiceServices.h"
#include "link/SocketHelper.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "ui/MainFrame.h"
#include "ui/SetDialog.h"
#include "ui/SkinControls.h"
#include "voice/PlayHelper.h"

#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QWheelEvent>

#include <cstdlib>
#include <functional>
#include <future>

namespace {

const std::string kCashierSim = std::string(VOICE_SOURCE_DIR) + "/tools/cashier_sim.py";

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UiApplication());
        m_api = std::make_unique<FakeWebApi>("{}");
        ASSERT_TRUE(m_api->Running()) << m_api->Error();
        WriteSettings(75, true);
        m_port = FreeLoopbackPort();
    }

    void TearDown() override {
        m_frame.reset();
        m_services.reset();
        PlayHelper::Destroy();
        SocketHelper::Destroy();
        *LoginResult::GetInstance() = LoginResult();
    }

    void WriteSettings(int volume, bool shield) {
        IniHelper::Destroy();
        m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + m_api->BaseUrl() +
                                       "\nvolume=" + std::to_string(volume) +
                                       "\nshield=" + (shield ? "1" : "0") + "\n");
    }

    // The window as the login leaves it: the port reserved, then created.
    void Open(bool bind = true) {
        if (bind) {
            std::wstring error;
            ASSERT_TRUE(SocketHelper::GetInstance()->BindPort(m_port, error));
        }
        m_frame.reset();
        // As the program does: the services start once the window is there.
        m_services = std::make_unique<VoiceServices>(
            *IniHelper::GetInstance(), *LoginResult::GetInstance(), *SocketHelper::GetInstance(),
            *PlayHelper::GetInstance({}));
        m_frame = std::make_unique<MainFrame>(*m_services, *LoginResult::GetInstance());
        m_frame->Create(nullptr, QStringLiteral("Tallix语音端"));
        if (!m_services->Start()) {
            m_frame->OnListeningFailed();
        }
        GuardOpenWindow(m_frame.get(), "the main window");
    }

    template <typename T>
    T* Control(const char* name) {
        return m_frame->FindControl<T>(QLatin1String(name));
    }
    std::string SettingsFile() const { return m_dir.Read("Setting.ini"); }
    bool Linked() {
        return Control<QWidget>("linked")->isVisibleTo(m_frame.get()) &&
               !Control<QWidget>("nolink")->isVisibleTo(m_frame.get());
    }
    void Trigger(const char* entry) {
        for (QAction* action : m_frame->TrayMenu()->actions()) {
            if (action->objectName() == QLatin1String(entry)) {
                action->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no tray entry " << entry;
    }

    TempProgramDir m_dir;
    std::unique_ptr<FakeWebApi> m_api;
    std::unique_ptr<VoiceServices> m_services;
    std::unique_ptr<MainFrame> m_frame;
    MessageCatcher m_messages;
    int m_port = 0;
};

TEST_F(MainFrameTest, ShowsTheStoredVolumeAndShieldSwitch) {
    struct Case {
        int volume;
        bool shield;
    };
    for (const Case c : {Case{30, false}, Case{75, true}, Case{0, true}, Case{100, false}}) {
        WriteSettings(c.volume, c.shield);
        Open();
        EXPECT_EQ(Control<SkinSlider>("slider_Volume")->value(), c.volume);
        EXPECT_EQ(Control<QLabel>("label_Volume")->text(), QString::number(c.volume));
        EXPECT_EQ(Control<SkinCheckBox>("check_Shield")->isChecked(), c.shield);
        EXPECT_EQ(Control<QLabel>("labelTitle")->text(), QStringLiteral("Tallix语音端"));
        EXPECT_FALSE(Linked());
        // Showing the stored value writes nothing.
        EXPECT_NE(SettingsFile().find("volume=" + std::to_string(c.volume)), std::string::npos);
        m_frame.reset();
        m_services.reset();
        SocketHelper::Destroy();
    }
}

TEST_F(MainFrameTest, VolumeSliderWritesTheSettingsFileAtOnce) {
    Open();
    m_frame->show();
    auto* slider = Control<SkinSlider>("slider_Volume");
    QTest::mouseClick(slider, Qt::LeftButton, {},
                      QPoint(slider->width() - 1, slider->height() / 2));
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(Control<QLabel>("label_Volume")->text(), QStringLiteral("100"));
    EXPECT_NE(SettingsFile().find("volume=100"), std::string::npos) << SettingsFile();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Left);
    EXPECT_EQ(Control<QLabel>("label_Volume")->text(), QStringLiteral("99"));
    EXPECT_NE(SettingsFile().find("volume=99"), std::string::npos) << SettingsFile();
    EXPECT_EQ(IniHelper::GetInstance()->Settings().volume, 99);
}

// A drag passes every value on its way: the label follows it live, the file
// is written once when the drag ends. A key or wheel step is written at once.
TEST_F(MainFrameTest, VolumeDragIsWrittenWhenItEndsAndAStepAtOnce) {
    Open();
    m_frame->show();
    auto* slider = Control<SkinSlider>("slider_Volume");
    auto* label = Control<QLabel>("label_Volume");
    const auto mouse = [slider](QEvent::Type type, int x, Qt::MouseButton button,
                                Qt::MouseButtons buttons) {
        const QPointF local(x, slider->height() / 2);
        QMouseEvent event(type, local, slider->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    };
    const std::string before = SettingsFile();
    ASSERT_NE(before.find("volume=75"), std::string::npos) << before;
    mouse(QEvent::MouseButtonPress, slider->width() / 4, Qt::LeftButton, Qt::LeftButton);
    QStringList seen{label->text()};
    for (int x = slider->width() / 4 + 4; x < slider->width(); x += 4) {
        mouse(QEvent::MouseMove, x, Qt::NoButton, Qt::LeftButton);
        seen << label->text();
    }
    EXPECT_EQ(label->text(), QStringLiteral("100"));
    EXPECT_GT(seen.size(), 20);
    EXPECT_EQ(IniHelper::GetInstance()->Settings().volume, 100);
    EXPECT_EQ(SettingsFile(), before) << "written while dragging";
    mouse(QEvent::MouseButtonRelease, slider->width() - 1, Qt::LeftButton, Qt::NoButton);
    EXPECT_NE(SettingsFile().find("volume=100"), std::string::npos) << SettingsFile();

    struct Step {
        const char* how;
        std::function<void()> act;
        const char* expected;
    };
    const Step steps[] = {
        {"key", [slider] { QTest::keyClick(slider, Qt::Key_Left); }, "99"},
        {"wheel",
         [slider] {
             const QPointF local(slider->width() / 2, slider->height() / 2);
             QWheelEvent wheel(local, slider->mapToGlobal(local), QPoint(), QPoint(0, -120),
                               Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(slider, &wheel);
         },
         "96"},
    };
    slider->setFocus();
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(label->text(), QString::fromUtf8(step.expected)) << step.how;
        EXPECT_NE(SettingsFile().find(std::string("volume=") + step.expected), std::string::npos)
            << step.how << "\n"
            << SettingsFile();
    }
}

TEST_F(MainFrameTest, ShieldCheckBoxWritesTheSettingsFileAtOnce) {
    Open();
    m_frame->show();
    auto* shield = Control<SkinCheckBox>("check_Shield");
    ASSERT_TRUE(shield->isChecked());
    QTest::mouseClick(shield, Qt::LeftButton);
    EXPECT_FALSE(IniHelper::GetInstance()->Settings().shield.load());
    EXPECT_NE(SettingsFile().find("shield=0"), std::string::npos) << SettingsFile();
    QTest::mouseClick(shield, Qt::LeftButton);
    EXPECT_TRUE(IniHelper::GetInstance()->Settings().shield.load());
    EXPECT_NE(SettingsFile().find("shield=1"), std::string::npos) << SettingsFile();
}

// The display follows the cashier side's address as its listener comes and goes.
TEST_F(MainFrameTest, LinkDisplayFollowsTheCashierListener) {
    const int cashierPort = FreeLoopbackPort();
    LoginResult::GetInstance()->serviceIp = "127.0.0.1";
    LoginResult::GetInstance()->servicePort = static_cast<uint32_t>(cashierPort);
    SpawnedProcess cashier;
    const std::string out = m_dir.File("cashier.out");
    ASSERT_TRUE(
        cashier.Start({"python3", kCashierSim, "--listen", "--port", std::to_string(cashierPort)},
                      {{}, "", out, ""}));
    ASSERT_TRUE(PumpUntil(
        [&] { return m_dir.Read("cashier.out").find("listening") != std::string::npos; }));
    Open();
    m_frame->show();
    ASSERT_TRUE(PumpUntil([&] { return Linked(); }));
    EXPECT_TRUE(Control<SkinGif>("linkedGif")->isPlaying());
    cashier.Stop();
    ASSERT_TRUE(PumpUntil([&] { return !Linked(); }));
    EXPECT_TRUE(m_frame->ServicesStarted());
}

TEST_F(MainFrameTest, CashierMessageIsAnsweredThroughTheWindow) {
    Open();
    m_frame->show();
    auto sent = std::async(std::launch::async, [this] {
        const std::string command = "python3 '" + kCashierSim + "' --port " +
                                    std::to_string(m_port) + " 12,101 > '" +
                                    m_dir.File("replies.out") + "'";
        return std::system(command.c_str());
    });
    ASSERT_TRUE(PumpUntil(
        [&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(sent.get(), 0);
    EXPECT_EQ(m_dir.Read("replies.out"), "OK\n");
}

TEST_F(MainFrameTest, ListeningFailureIsToldAndEndsWithCodeTwo) {
    Open(false);  // no port reserved: listening cannot start
    EXPECT_EQ(m_frame->ShowModal(), 2);
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("开启SOCKET失败，程序退出。")});
    EXPECT_FALSE(m_frame->ServicesStarted());
}

TEST_F(MainFrameTest, TrayMenuShowsTheWindowAgainAndExits) {
    Open();
    bool minimisedStillShown = false;
    bool restored = false;
    WhenShown<MainFrame>([&](MainFrame* frame) {
        QTest::mouseClick(frame->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        // Without a system tray the window cannot hide into one.
        minimisedStillShown = frame->isVisible();
        Trigger("Menu_Tray_Show");
        QTimer::singleShot(50, frame, [&, frame] {
            restored = frame->isVisible() && !frame->isMinimized();
            Trigger("Menu_Tray_Exit");
        });
    });
    EXPECT_EQ(m_frame->ShowModal(), 1);
    // As the program goes on once the window has closed.
    m_services->Stop();
    EXPECT_TRUE(minimisedStillShown);
    EXPECT_TRUE(restored);
    EXPECT_FALSE(SocketHelper::GetInstance()->IsListening());
}

TEST_F(MainFrameTest, SettingsButtonIsDisabledWhileTheSettingsWindowIsOpen) {
    Open();
    bool disabledMeanwhile = false;
    bool ownerless = false;
    WhenShown<MainFrame>([&](MainFrame* frame) {
        WhenShown<SetDialog>([&](SetDialog* dialog) {
            disabledMeanwhile =
                !frame->FindControl<SkinButton>(QStringLiteral("setbtn"))->isEnabled();
            // The settings window has no owner: the main window and its tray
            // stay usable meanwhile.
            ownerless = dialog->windowHandle()->transientParent() == nullptr && frame->isEnabled();
            QTest::mouseClick(dialog->FindControl<SkinButton>(QStringLiteral("closebtn")),
                              Qt::LeftButton);
            // Once the settings window's modal run has returned.
            WhenReady(
                [frame] { return frame->OpenSetDialog() == nullptr; },
                [frame] {
                    EXPECT_TRUE(
                        frame->FindControl<SkinButton>(QStringLiteral("setbtn"))->isEnabled());
                    EXPECT_FALSE(frame->IsClosed());
                    frame->OnMenuExit();
                });
        });
        QTest::mouseClick(frame->FindControl<SkinButton>(QStringLiteral("setbtn")), Qt::LeftButton);
    });
    EXPECT_EQ(m_frame->ShowModal(), 1);
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(ownerless);
}

// Leaving by the settings window's exit button ends the program and the next
// start no longer logs in by itself.
TEST_F(MainFrameTest, ExitButtonClearsTheAutomaticLoginAndEndsTheProgram) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(m_port)));
    Open();
    WhenShown<MainFrame>([&](MainFrame* frame) {
        WhenShown<SetDialog>([](SetDialog* dialog) {
            QTest::mouseClick(dialog->FindControl<SkinButton>(QStringLiteral("exitbtn")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(frame->FindControl<SkinButton>(QStringLiteral("setbtn")), Qt::LeftButton);
    });
    EXPECT_EQ(m_frame->ShowModal(), 1);
    LoginRecord record;
    ASSERT_TRUE(ReadLoginRecord(record));
    EXPECT_FALSE(record.autoLogin);
    EXPECT_EQ(record.loginName, "boss");
}

// Offscreen has no tray: the icon waits unshown, the – button only minimises,
// and the window's own exit button, there only now, ends the program without
// logging out.
TEST_F(MainFrameTest, WithoutATrayTheWindowOffersAnExitThatKeepsTheAutomaticLogin) {
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(m_port)));
    Open();
    bool iconHidden = false;
    bool exitOffered = false;
    bool minimisedStillShown = false;
    WhenShown<MainFrame>([&](MainFrame* frame) {
        ASSERT_NE(frame->Tray(), nullptr);
        iconHidden = !frame->Tray()->isVisible();
        auto* exit = frame->FindControl<SkinButton>(QStringLiteral("exitbtn"));
        ASSERT_NE(exit, nullptr);
        exitOffered = exit->isVisible();
        QTest::mouseClick(frame->FindControl<SkinButton>(QStringLiteral("minbtn")), Qt::LeftButton);
        minimisedStillShown = frame->isVisible();
        frame->showNormal();
        QTest::mouseClick(exit, Qt::LeftButton);
    });
    EXPECT_EQ(m_frame->ShowModal(), 1);
    m_services->Stop();
    EXPECT_TRUE(iconHidden);
    EXPECT_TRUE(exitOffered);
    EXPECT_TRUE(minimisedStillShown);
    LoginRecord record;
    ASSERT_TRUE(ReadLoginRecord(record));
    EXPECT_TRUE(record.autoLogin);
}

TEST_F(MainFrameTest, TrayExitWhileTheSettingsWindowIsOpenClosesBoth) {
    Open();
    QPointer<SetDialog> settings;
    WhenShown<MainFrame>([&](MainFrame* frame) {
        WhenShown<SetDialog>([&](SetDialog* dialog) {
            settings = dialog;
            Trigger("Menu_Tray_Exit");
        });
        QTest::mouseClick(frame->FindControl<SkinButton>(QStringLiteral("setbtn")), Qt::LeftButton);
    });
    EXPECT_EQ(m_frame->ShowModal(), 1);
    // The settings window lived on the main window's stack and is gone with its loop.
    EXPECT_TRUE(settings.isNull());
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<SetDialog*>(widget), nullptr);
    }
}

}  // namespace
