// The toolkit layer: the skin archive built into the program, layouts built
// into windows with their controls, and the message dialog on top of it.

#include "UiTestEnv.h"
#include "ui/MsgDialog.h"
#include "ui/SkinArchive.h"
#include "ui/SkinBuilder.h"
#include "ui/SkinControls.h"
#include "ui/WindowImplBase.h"

#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace {

// A window built from any layout of the skin, for checking layouts alone.
class LayoutWindow : public WindowImplBase {
public:
    explicit LayoutWindow(QString file) : m_file(std::move(file)) {}
    QString GetWindowClassName() const override { return QStringLiteral("LayoutWindow"); }
    QString GetSkinFile() const override { return m_file; }

private:
    QString m_file;
};

class SkinToolkitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UiApplication()); }
    void TearDown() override { ASSERT_TRUE(SkinArchive::Instance().LoadEmbedded()); }
    TempProgramDir m_dir;
};

TEST_F(SkinToolkitTest, PathsMatchWithEitherSeparatorAndAnyCase) {
    struct Case {
        const char* path;
        bool present;
    };
    const Case cases[] = {
        {"Xmls\\MainFrame.xml", true},
        {"xmls\\Menu_Tray.xml", true},
        {"XMLS/mainframe.XML", true},
        {"/UI/warn.png", true},
        {"UI\\scrollbar\\thumb_normal_H.png", true},
        {"UI\\warn.gif", false},
        {"Xmls\\Nothing.xml", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SkinArchive::Instance().Contains(QString::fromUtf8(c.path)), c.present) << c.path;
    }
    EXPECT_FALSE(SkinArchive::Instance().Pixmap(QStringLiteral("ui/WARN.png")).isNull());
}

// Every image a layout names must be in the archive and decode, or the window
// would silently show a gap.
TEST_F(SkinToolkitTest, EveryImageTheLayoutsNameIsInTheArchive) {
    const std::filesystem::path folder =
        std::filesystem::path(VOICE_SOURCE_DIR) / "src/ui/skin/Xmls";
    const QRegularExpression imageRef(QStringLiteral(R"(>(UI[\\/][^<]+\.(?:png|gif))<)"),
                                      QRegularExpression::CaseInsensitiveOption);
    int named = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream file(entry.path());
        const std::string text((std::istreambuf_iterator<char>(file)), {});
        auto it = imageRef.globalMatch(QString::fromStdString(text));
        while (it.hasNext()) {
            const QString path = it.next().captured(1);
            ++named;
            EXPECT_FALSE(SkinArchive::Instance().Pixmap(path).isNull())
                << entry.path().filename() << " names " << path.toStdString();
        }
    }
    EXPECT_GT(named, 0);
}

TEST_F(SkinToolkitTest, LayoutsBuildWithTheirNamedControls) {
    struct Case {
        const char* layout;
        QSize size;
        int shadow;
        std::vector<const char*> controls;
    };
    const Case cases[] = {
        {"Xmls\\LoginDialog.xml",
         {358, 516},
         4,
         {"logo", "title", "tab", "tab_boss", "tab_staff", "boss_name", "boss_pass", "boss_port",
          "staff_name", "staff_staff", "staff_pass", "staff_port", "LoginBtn", "closebtn"}},
        {"Xmls\\MainFrame.xml",
         {492, 386},
         3,
         {"logo", "labelTitle", "slider_Volume", "label_Volume", "check_Shield", "setbtn", "minbtn",
          "nolink", "linked"}},
        {"Xmls\\SetDialog.xml",
         {309, 238},
         3,
         {"SettingList", "addbtn", "savebtn", "exitbtn", "server", "local", "name", "closebtn"}},
        {"Xmls\\MsgDialog.xml",
         {256, 199},
         3,
         {"LabelIcon", "LabelContext", "BtnKnow", "BtnManu", "BtnAuto", "closebtn"}},
        {"Xmls\\WaitDialog.xml", {110, 110}, 3, {"loading"}},
    };
    for (const Case& c : cases) {
        LayoutWindow window{QString::fromUtf8(c.layout)};
        ASSERT_TRUE(window.Create(nullptr, QStringLiteral("t"))) << c.layout;
        // Around the layout's area the window adds its shadow where the
        // desktop composes, else a one-pixel border.
        const int margin = window.Composed() ? c.shadow : 1;
        EXPECT_EQ(window.size(), c.size + QSize(2 * margin, 2 * margin)) << c.layout;
        for (const char* name : c.controls) {
            EXPECT_NE(window.FindControl(QString::fromUtf8(name)), nullptr)
                << c.layout << " " << name;
            // Names are matched without regard to case.
            EXPECT_EQ(window.FindControl(QString::fromUtf8(name).toUpper()),
                      window.FindControl(QString::fromUtf8(name)));
        }
    }
}

TEST_F(SkinToolkitTest, TrayMenuLayoutHasItsTwoEntries) {
    SkinBuilder builder;
    QWidget owner;
    auto* menu = qobject_cast<QMenu*>(builder.Build(QStringLiteral("xmls\\Menu_Tray.xml"), &owner));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* action : menu->actions()) {
        entries << action->objectName() + QLatin1Char('=') + action->text();
    }
    EXPECT_EQ(entries, (QStringList{QStringLiteral("Menu_Tray_Show=显示界面"),
                                    QStringLiteral("Menu_Tray_Exit=退出")}));
}

TEST_F(SkinToolkitTest, WithoutAnArchiveWindowsStillOpenAndClose) {
    EXPECT_FALSE(SkinArchive::Instance().LoadBytes("not a zip archive"));
    EXPECT_FALSE(SkinArchive::Instance().IsLoaded());
    LayoutWindow window{QStringLiteral("Xmls\\MsgDialog.xml")};
    EXPECT_FALSE(window.Create(nullptr, QStringLiteral("t")));
    EXPECT_EQ(window.FindControl(QStringLiteral("BtnKnow")), nullptr);
    window.Close(7);
    EXPECT_EQ(window.ShowModal(), 7);
}

// The ways a message dialog can be answered, and the one that must not close it.
TEST_F(SkinToolkitTest, MessageDialogClosesOnEnterButtonAndCloseButtonOnly) {
    enum class Act { Enter, KeypadEnter, Know, CloseButton };
    for (Act act : {Act::Enter, Act::KeypadEnter, Act::Know, Act::CloseButton}) {
        QWidget owner;
        owner.show();
        bool ownerBlocked = false;
        bool survivedEscape = false;
        WhenShown<MsgDialog>([&](MsgDialog* dialog) {
            ownerBlocked = !owner.isEnabled();
            QTest::keyClick(dialog, Qt::Key_Escape);
            QCoreApplication::processEvents();
            survivedEscape = dialog->isVisible() && !dialog->IsClosed();
            auto* know = dialog->FindControl<SkinButton>(QStringLiteral("BtnKnow"));
            auto* close = dialog->FindControl<SkinButton>(QStringLiteral("closebtn"));
            EXPECT_TRUE(know->isVisible());
            EXPECT_FALSE(dialog->FindControl(QStringLiteral("BtnManu"))->isVisible());
            EXPECT_FALSE(dialog->FindControl(QStringLiteral("BtnAuto"))->isVisible());
            switch (act) {
                case Act::Enter:
                    QTest::keyClick(dialog, Qt::Key_Return);
                    break;
                case Act::KeypadEnter:
                    QTest::keyClick(dialog, Qt::Key_Enter);
                    break;
                case Act::Know:
                    QTest::mouseClick(know, Qt::LeftButton);
                    break;
                case Act::CloseButton:
                    QTest::mouseClick(close, Qt::LeftButton);
                    break;
            }
        });
        EXPECT_EQ(ShowMessage(&owner, QStringLiteral("端口号不能为空")), 1);
        EXPECT_TRUE(ownerBlocked);
        EXPECT_TRUE(survivedEscape);
        EXPECT_TRUE(owner.isEnabled());
    }
}

// A message is read whole: a long text (a server's expiry notice) wraps and
// the dialog grows down to show every line, within the screen; a short one
// keeps the layout's size; only a text taller than the screen is cut.
TEST_F(SkinToolkitTest, LongMessageWrapsAndTheDialogGrowsWithinTheScreen) {
    struct Case {
        const char* name;
        QString text;
        bool whole;
        bool keepsSize;
    };
    const QString notice = QStringLiteral("网络错误，请检查网络连接后重试。");
    const Case cases[] = {
        {"short", QStringLiteral("端口号不能为空"), true, true},
        {"expiry_notice",
         QStringLiteral("您的账号已于2024年3月1日到期，请联系服务商续费后重新登录。"), true, false},
        {"six_notices", notice.repeated(6), true, false},
        {"taller_than_the_screen", notice.repeated(600), false, false},
    };
    for (const Case& c : cases) {
        QString shown;
        QSize size;
        QSize layoutSize;
        QRect geometry;
        QRect screen;
        bool wraps = false;
        bool fits = false;
        WhenShown<MsgDialog>([&](MsgDialog* dialog) {
            auto* label = dialog->FindControl<SkinLabel>(QStringLiteral("LabelContext"));
            shown = label->shownText();
            wraps = label->wordWrap();
            fits =
                label->heightForWidth(label->width()) <= label->height() &&
                dialog->rect().contains(QRect(label->mapTo(dialog, QPoint(0, 0)), label->size()));
            size = dialog->size();
            geometry = dialog->frameGeometry();
            screen = dialog->screen()->availableGeometry();
            // The layout's 256 x 199 with the shadow (3) or the one-pixel border around it.
            const int margin = dialog->Composed() ? 3 : 1;
            layoutSize = QSize(256 + 2 * margin, 199 + 2 * margin);
            EXPECT_EQ(dialog->Text(), c.text) << c.name;
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        EXPECT_EQ(ShowMessage(nullptr, c.text), 1) << c.name;
        EXPECT_TRUE(wraps) << c.name;
        EXPECT_TRUE(screen.contains(geometry)) << c.name << " " << geometry.y() << "+"
                                               << geometry.height() << " in " << screen.height();
        EXPECT_EQ(size.width(), layoutSize.width()) << c.name;
        if (c.keepsSize) {
            EXPECT_EQ(size, layoutSize) << c.name;
        } else {
            EXPECT_GT(size.height(), layoutSize.height()) << c.name;
        }
        if (c.whole) {
            EXPECT_EQ(shown, c.text) << c.name;
            EXPECT_TRUE(fits) << c.name;
        } else {
            EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << c.name;
            EXPECT_LT(shown.size(), c.text.size()) << c.name;
        }
    }
}

// Every skinned control that takes input is reached with Tab and shows a
// visible frame of the accent colour while it has the keyboard focus.
TEST_F(SkinToolkitTest, TabReachesEachControlAndShowsItsFocusFrame) {
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* edit = new SkinEdit(&host);
    auto* button = new SkinButton(&host);
    auto* check = new SkinCheckBox(&host);
    auto* option = new SkinOption(&host);
    auto* slider = new SkinSlider(&host);
    const std::vector<std::pair<const char*, QWidget*>> controls = {
        {"button", button}, {"check box", check}, {"option", option}, {"slider", slider}};
    layout->addWidget(edit);
    for (const auto& [name, control] : controls) {
        control->setFixedSize(90, 30);
        layout->addWidget(control);
    }
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    if (!host.isActiveWindow()) {
        // Wayland leaves activation to the compositor, which does not give it
        // to a test's window; the other desktops check the frame.
        GTEST_SKIP() << "this desktop does not let a window take the keyboard";
    }
    edit->setFocus();
    const QColor accent(0x2D, 0x8C, 0xF0);
    for (const auto& [name, control] : controls) {
        const QImage before = control->grab().toImage();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(control->hasFocus()) << name;
        const QImage after = control->grab().toImage();
        // The frame's top edge, away from the rounded corners.
        EXPECT_EQ(after.pixelColor(control->width() / 2, 0), accent) << name;
        EXPECT_NE(before.pixelColor(control->width() / 2, 0), accent) << name;
    }
}

}  // namespace
