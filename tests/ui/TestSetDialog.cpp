// The settings window: status labels from the login answer, and the pause-list
// editor's row states and saving rules against the real Audio/Audio.xml.

#include "UiTestEnv.h"
#include "api/LoginResult.h"
#include "ui/SetDialog.h"
#include "ui/SettingList.h"
#include "ui/SettingListItem.h"
#include "ui/SkinControls.h"

#include <QLabel>

#include <filesystem>

namespace {

const char* const kTwoNames =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Audios><Audio Name=\"qq.exe\"/><Audio Name=\"KuGou.exe\"/></Audios>\n";

// Which of a row's controls are shown, in the order label, edit, editBtn,
// saveBtn, cancelBtn, deleteBtn.
using RowState = std::array<bool, 6>;
const RowState kNew = {false, true, false, true, false, true};
const RowState kView = {true, false, true, false, false, true};
const RowState kEdit = {false, true, false, true, true, false};

class SetDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UiApplication());
        std::filesystem::create_directories(m_dir.File("Audio"));
    }
    void TearDown() override { *LoginResult::GetInstance() = LoginResult(); }

    void Open() {
        m_dialog = std::make_unique<SetDialog>(*LoginResult::GetInstance());
        m_dialog->Create(nullptr, QStringLiteral("SettingDialog"));
        m_dialog->ShowPauseList(true);
        m_dialog->show();
        m_list = m_dialog->List();
        ASSERT_NE(m_list, nullptr);
    }
    QString Label(const char* name) {
        return m_dialog->FindControl<QLabel>(QLatin1String(name))->text();
    }
    SkinButton* RowButton(int row, const char* name) {
        return m_list->RowAt(row)->findChild<SkinButton*>(QLatin1String(name));
    }
    void Click(QWidget* widget) {
        ASSERT_NE(widget, nullptr);
        QCoreApplication::processEvents();
        ASSERT_TRUE(widget->isVisible()) << widget->objectName().toStdString();
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    void ClickRow(int row, const char* button) { Click(RowButton(row, button)); }
    void ClickDialog(const char* button) {
        Click(m_dialog->FindControl<SkinButton>(QLatin1String(button)));
    }
    RowState State(int row) {
        SettingListItem* item = m_list->RowAt(row);
        return {item->NameLabel()->isVisible(),           item->NameEdit()->isVisible(),
                RowButton(row, "editBtn")->isVisible(),   RowButton(row, "saveBtn")->isVisible(),
                RowButton(row, "cancelBtn")->isVisible(), RowButton(row, "deleteBtn")->isVisible()};
    }
    void Type(int row, const QString& text) {
        SkinEdit* edit = m_list->RowAt(row)->NameEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    std::string PauseFile() const { return m_dir.Read("Audio/Audio.xml"); }

    TempProgramDir m_dir;
    std::unique_ptr<SetDialog> m_dialog;
    SettingList* m_list = nullptr;
};

TEST_F(SetDialogTest, StatusLabelsShowTheLoginAnswerOnlyWithBothPortsKnown) {
    struct Case {
        uint32_t servicePort;
        uint32_t localPort;
        const char* server;
        const char* local;
        const char* name;
    };
    const Case cases[] = {
        {5121, 5001, "收银端IP: 192.168.1.20:5121", "语音端IP: 192.168.1.5:5001",
         "门店名称: 一号店"},
        {0, 5001, "收银端IP: ", "语音端IP: ", "门店名称: "},
        {5121, 0, "收银端IP: ", "语音端IP: ", "门店名称: "},
    };
    for (const Case& c : cases) {
        LoginResult* login = LoginResult::GetInstance();
        login->serviceIp = "192.168.1.20";
        login->localIp = "192.168.1.5";
        login->realName = "一号店";
        login->servicePort = c.servicePort;
        login->localPort = c.localPort;
        Open();
        EXPECT_EQ(Label("server"), QString::fromUtf8(c.server));
        EXPECT_EQ(Label("local"), QString::fromUtf8(c.local));
        EXPECT_EQ(Label("name"), QString::fromUtf8(c.name));
    }
}

TEST_F(SetDialogTest, PauseListOpensWithTheFileNamesInViewState) {
    m_dir.Write("Audio/Audio.xml", kTwoNames);
    Open();
    ASSERT_EQ(m_list->RowCount(), 2);
    EXPECT_EQ(m_list->RowAt(0)->LabelText(), QStringLiteral("QQ.EXE"));
    EXPECT_EQ(m_list->RowAt(1)->LabelText(), QStringLiteral("KUGOU.EXE"));
    EXPECT_EQ(State(0), kView);
    EXPECT_EQ(State(1), kView);
}

TEST_F(SetDialogTest, NewRowIsSavedOnlyOnceConfirmed) {
    m_dir.Write("Audio/Audio.xml", kTwoNames);
    Open();
    ClickDialog("addbtn");
    ASSERT_EQ(m_list->RowCount(), 3);
    EXPECT_EQ(State(0), kNew);
    Type(0, QStringLiteral("vlc"));
    ClickDialog("savebtn");
    // Typed but not confirmed: only the confirmed names are written.
    EXPECT_EQ(PauseFile().find("vlc"), std::string::npos) << PauseFile();
    EXPECT_NE(PauseFile().find("\"QQ.EXE\""), std::string::npos) << PauseFile();
    ClickRow(0, "saveBtn");
    EXPECT_EQ(State(0), kView);
    EXPECT_EQ(m_list->RowAt(0)->LabelText(), QStringLiteral("vlc"));
    ClickDialog("savebtn");
    const std::string saved = PauseFile();
    const size_t vlc = saved.find("\"vlc\"");
    const size_t qq = saved.find("\"QQ.EXE\"");
    const size_t kugou = saved.find("\"KUGOU.EXE\"");
    ASSERT_NE(vlc, std::string::npos) << saved;
    EXPECT_LT(vlc, qq);
    EXPECT_LT(qq, kugou);
}

TEST_F(SetDialogTest, EditingKeepsTheConfirmedNameUntilConfirmedAgain) {
    m_dir.Write("Audio/Audio.xml", kTwoNames);
    Open();
    ClickRow(0, "editBtn");
    EXPECT_EQ(State(0), kEdit);
    EXPECT_EQ(m_list->RowAt(0)->NameEdit()->text(), QStringLiteral("QQ.EXE"));
    Type(0, QStringLiteral("wechat"));
    // Saved while still editing: the row counts with its confirmed name.
    ClickDialog("savebtn");
    EXPECT_NE(PauseFile().find("\"QQ.EXE\""), std::string::npos);
    EXPECT_EQ(PauseFile().find("wechat"), std::string::npos);
    ClickRow(0, "cancelBtn");
    EXPECT_EQ(State(0), kView);
    EXPECT_EQ(m_list->RowAt(0)->LabelText(), QStringLiteral("QQ.EXE"));
    ClickRow(0, "editBtn");
    Type(0, QString());
    ClickRow(0, "saveBtn");
    // An empty name is not taken.
    EXPECT_EQ(State(0), kEdit);
    Type(0, QStringLiteral("wechat"));
    ClickRow(0, "saveBtn");
    EXPECT_EQ(State(0), kView);
    ClickDialog("savebtn");
    EXPECT_NE(PauseFile().find("\"wechat\""), std::string::npos) << PauseFile();
    EXPECT_EQ(PauseFile().find("QQ.EXE"), std::string::npos) << PauseFile();
}

TEST_F(SetDialogTest, EditOnARowWithoutANameDoesNothing) {
    Open();
    // The file never yields an empty name, so the row is put in view state directly.
    SettingListItem* row = m_list->CreateRow();
    ASSERT_NE(row, nullptr);
    m_dialog->HookControls(row);
    row->SetViewMode(true);
    ASSERT_TRUE(m_list->InsertRow(row, 0));
    const RowState before = State(0);
    ASSERT_TRUE(before[2]);  // the edit button is there to be pressed
    ClickRow(0, "editBtn");
    EXPECT_EQ(State(0), before);
}

TEST_F(SetDialogTest, DeletingEveryRowNeverWipesTheFile) {
    m_dir.Write("Audio/Audio.xml", kTwoNames);
    Open();
    ClickRow(1, "deleteBtn");
    ClickRow(0, "deleteBtn");
    EXPECT_EQ(m_list->RowCount(), 0);
    ClickDialog("savebtn");
    EXPECT_EQ(PauseFile(), kTwoNames);
}

TEST_F(SetDialogTest, ClosingWithTheCloseButtonGivesOne) {
    Open();
    QTimer::singleShot(0, [this] { ClickDialog("closebtn"); });
    EXPECT_EQ(m_dialog->ShowModal(), 1);
}

}  // namespace
