// The login window against the fake web API: validation, port rules, the
// reserved port, refused and accepted logins, and the automatic login.

#include "UiTestEnv.h"
#include "api/LoginResult.h"
#include "app/IniHelper.h"
#include "app/LoginRecord.h"
#include "link/SocketHelper.h"
#include "support/FakeWebApi.h"
#include "support/LoopbackPeers.h"
#include "ui/LoginDialog.h"
#include "ui/SkinControls.h"
#include "ui/WaitDialog.h"

#include <QPointer>
#include <QStackedWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kAccounts = R"({"accounts": [{
    "user_name": "boss", "pwd": "secret", "staff": ["s01"],
    "id": "88", "realname": "一号店", "service_ip": "127.0.0.1", "service_port": 5002,
    "is_wx_open": 1}], "refuse": {"code": 1, "msg": "密码错误，请重新输入"}})";

const char* const kLoginPath = "/api/index/voiceLogin";

class LoginDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UiApplication()); }

    void TearDown() override {
        SocketHelper::Destroy();
        *LoginResult::GetInstance() = LoginResult();
    }

    // Points the program at a fake web API started with `config`.
    void StartApi(const std::string& config) {
        // The settings are read once per run: start each server with fresh ones.
        IniHelper::Destroy();
        m_api = std::make_unique<FakeWebApi>(config);
        ASSERT_TRUE(m_api->Running()) << m_api->Error();
        m_dir.Write("Setting.ini", "[WebSetting]\nUrl=" + m_api->BaseUrl() + "\n");
    }

    size_t LoginRequests() const {
        size_t count = 0;
        for (const auto& request : m_api->Requests()) {
            count += request.path == kLoginPath ? 1 : 0;
        }
        return count;
    }

    std::string LastLoginBody() const {
        std::string body;
        for (const auto& request : m_api->Requests()) {
            if (request.path == kLoginPath) {
                body = request.body;
            }
        }
        return body;
    }

    // Creates the window, shown, with the form as the user would fill it.
    void Open() {
        m_dialog = std::make_unique<LoginDialog>(*SocketHelper::GetInstance());
        m_dialog->Create(nullptr, QStringLiteral("登录"));
        m_dialog->show();
        GuardOpenWindow(m_dialog.get(), "the login window");
    }
    SkinEdit* Edit(const char* name) {
        return m_dialog->FindControl<SkinEdit>(QLatin1String(name));
    }
    void Fill(const char* name, const QString& text) {
        SkinEdit* edit = Edit(name);
        ASSERT_NE(edit, nullptr) << name;
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    void ChooseStaff() {
        QTest::mouseClick(m_dialog->FindControl<SkinOption>(QStringLiteral("tab_staff")),
                          Qt::LeftButton);
    }
    void ClickLogin() {
        QTest::mouseClick(m_dialog->FindControl<SkinButton>(QStringLiteral("LoginBtn")),
                          Qt::LeftButton);
    }

    TempProgramDir m_dir;
    std::unique_ptr<FakeWebApi> m_api;
    std::unique_ptr<LoginDialog> m_dialog;
    MessageCatcher m_messages;
};

TEST_F(LoginDialogTest, FirstStartShowsTheEmptyBossFormWithDefaultPorts) {
    StartApi("{}");
    Open();
    EXPECT_TRUE(m_dialog->FindControl<SkinOption>(QStringLiteral("tab_boss"))->isChecked());
    EXPECT_EQ(m_dialog->FindControl<QStackedWidget>(QStringLiteral("tab"))->currentIndex(), 0);
    EXPECT_EQ(Edit("boss_name")->text(), QString());
    EXPECT_EQ(Edit("boss_port")->text(), QStringLiteral("5001"));
    EXPECT_EQ(Edit("staff_port")->text(), QStringLiteral("5001"));
    EXPECT_EQ(Edit("boss_pass")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Edit("staff_pass")->echoMode(), QLineEdit::Password);
    ChooseStaff();
    EXPECT_EQ(m_dialog->FindControl<QStackedWidget>(QStringLiteral("tab"))->currentIndex(), 1);
    EXPECT_EQ(m_dialog->FindControl<SkinLabel>(QStringLiteral("title"))->text(),
              QStringLiteral("Tallix语音端"));
}

// The first empty field of the chosen tab is named and gets the focus; later
// fields are not looked at.
TEST_F(LoginDialogTest, EmptyFieldIsNamedAndFocused) {
    struct Case {
        bool staff;
        std::vector<std::pair<const char*, const char*>> fill;
        const char* message;
        const char* focus;
    };
    const Case cases[] = {
        {false, {{"boss_port", ""}}, "门店帐号不能为空", "boss_name"},
        {false, {{"boss_name", "boss"}}, "门店密码不能为空", "boss_pass"},
        {false,
         {{"boss_name", "boss"}, {"boss_pass", "x"}, {"boss_port", ""}},
         "端口号不能为空",
         "boss_port"},
        {true, {}, "门店帐号不能为空", "staff_name"},
        {true, {{"staff_name", "boss"}}, "员工帐号不能为空", "staff_staff"},
        {true, {{"staff_name", "boss"}, {"staff_staff", "s01"}}, "员工密码不能为空", "staff_pass"},
        {true,
         {{"staff_name", "boss"}, {"staff_staff", "s01"}, {"staff_pass", "x"}, {"staff_port", ""}},
         "端口号不能为空",
         "staff_port"},
    };
    StartApi("{}");
    for (const Case& c : cases) {
        Open();
        if (c.staff) {
            ChooseStaff();
        }
        for (const auto& [name, text] : c.fill) {
            Fill(name, QString::fromUtf8(text));
        }
        Edit(c.staff ? "staff_port" : "boss_port")->setFocus();
        m_messages.Clear();
        ClickLogin();
        EXPECT_EQ(m_messages.Texts(), QStringList{QString::fromUtf8(c.message)}) << c.message;
        EXPECT_EQ(m_dialog->focusWidget(), Edit(c.focus)) << c.focus;
    }
    EXPECT_EQ(LoginRequests(), 0u);
}

// A failure other than an empty field leaves the cursor where the user had
// it, though the window was disabled under the message (and the wait dialog).
TEST_F(LoginDialogTest, FocusStaysWhereItWasAfterAFailedLogin) {
    struct Case {
        const char* password;
        bool validPort;
        const char* focus;
        const char* message;
    };
    const Case cases[] = {
        {"secret", false, "boss_pass", "无效端口，请重新输入."},
        {"secret", false, "boss_name", "无效端口，请重新输入."},
        {"wrong", true, "boss_port", "密码错误，请重新输入"},
        {"wrong", true, "boss_pass", "密码错误，请重新输入"},
    };
    StartApi(kAccounts);
    for (const Case& c : cases) {
        Open();
        Fill("boss_name", QStringLiteral("boss"));
        Fill("boss_pass", QString::fromUtf8(c.password));
        Fill("boss_port", c.validPort ? QString::number(FreeLoopbackPort()) : QStringLiteral("0"));
        Edit(c.focus)->setFocus();
        m_messages.Clear();
        QTest::keyClick(Edit(c.focus), Qt::Key_Return);
        EXPECT_EQ(m_messages.Texts(), QStringList{QString::fromUtf8(c.message)}) << c.focus;
        EXPECT_EQ(m_dialog->focusWidget(), Edit(c.focus)) << c.focus << " " << c.message;
        SocketHelper::Destroy();
    }
}

// The wait dialog and every message belong to the login window: the desktop
// keeps them above it, gives them no taskbar entry and places them over it.
TEST_F(LoginDialogTest, WaitDialogAndMessagesBelongToTheLoginWindow) {
    // Slow enough for the wait dialog to be seen.
    StartApi(R"({"accounts": [{"user_name": "boss", "pwd": "secret"}],
        "refuse": {"code": 1, "msg": "密码错误，请重新输入"},
        "responses": {"/api/index/voiceLogin": {"delay": 0.5}}})");
    Open();
    Fill("boss_name", QStringLiteral("boss"));
    Fill("boss_pass", QStringLiteral("wrong"));
    Fill("boss_port", QString::number(FreeLoopbackPort()));
    QWindow* waitOwner = nullptr;
    bool ownerDisabled = false;
    WhenShown<WaitDialog>([&](WaitDialog* wait) {
        waitOwner = wait->windowHandle()->transientParent();
        ownerDisabled = !m_dialog->isEnabled();
    });
    ClickLogin();
    EXPECT_EQ(waitOwner, m_dialog->windowHandle());
    EXPECT_TRUE(ownerDisabled);
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("密码错误，请重新输入")});
    EXPECT_EQ(m_messages.Owners(), QList<QWindow*>{m_dialog->windowHandle()});
    EXPECT_TRUE(m_dialog->isEnabled());
}

TEST_F(LoginDialogTest, EnterKeyLogsInLikeTheButton) {
    StartApi("{}");
    Open();
    QTest::keyClick(Edit("boss_name"), Qt::Key_Return);
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("门店帐号不能为空")});
    m_messages.Clear();
    QTest::keyClick(Edit("boss_name"), Qt::Key_Escape);
    EXPECT_TRUE(m_messages.Texts().isEmpty());
    EXPECT_FALSE(m_dialog->IsClosed());
}

// Takes the first message dialog from the fixture's catcher the moment it is
// shown, so that a test can act while it is up.
class FirstMessage : public QObject {
public:
    explicit FirstMessage(std::function<void(MsgDialog*)> act) : m_act(std::move(act)) {
        qApp->installEventFilter(this);
    }
    ~FirstMessage() override { qApp->removeEventFilter(this); }
    bool Seen() const { return m_seen; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<MsgDialog*>(watched);
        if (!m_seen && dialog && event->type() == QEvent::Show) {
            m_seen = true;
            dialog->setProperty("_caught", true);
            QPointer<MsgDialog> guarded(dialog);
            QTimer::singleShot(0, this, [this, guarded] {
                if (guarded) {
                    m_act(guarded);
                }
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(MsgDialog*)> m_act;
    bool m_seen = false;
};

// A click on the login window while its message is up gives it the keyboard
// again; neither Enter there nor its login button may start another login
// (or put up another message) until the message is dismissed.
TEST_F(LoginDialogTest, EnterWhileAMessageIsUpStartsNoSecondLogin) {
    struct Case {
        const char* password;  // nullptr: the form is left empty
        const char* message;
    };
    const Case cases[] = {
        {nullptr, "门店帐号不能为空"},
        {"wrong", "密码错误，请重新输入"},
    };
    StartApi(kAccounts);
    for (const Case& c : cases) {
        Open();
        if (c.password) {
            Fill("boss_name", QStringLiteral("boss"));
            Fill("boss_pass", QString::fromUtf8(c.password));
            Fill("boss_port", QString::number(FreeLoopbackPort()));
        }
        const size_t requestsBefore = LoginRequests();
        m_messages.Clear();
        QString shown;
        FirstMessage first([&](MsgDialog* dialog) {
            shown = dialog->Text();
            m_dialog->activateWindow();
            for (const char* edit : {"boss_name", "boss_pass", "boss_port"}) {
                QTest::keyClick(Edit(edit), Qt::Key_Return);
                QTest::keyClick(Edit(edit), Qt::Key_Enter);
            }
            ClickLogin();
            dialog->Close(1);
        });
        QTest::keyClick(Edit("boss_name"), Qt::Key_Return);
        EXPECT_TRUE(first.Seen()) << c.message;
        EXPECT_EQ(shown, QString::fromUtf8(c.message));
        EXPECT_TRUE(m_messages.Texts().isEmpty()) << m_messages.Texts().join(u'|').toStdString();
        EXPECT_EQ(LoginRequests(), requestsBefore + (c.password ? 1 : 0)) << c.message;
        // Once the message is gone, Enter logs in again.
        EXPECT_TRUE(m_dialog->isEnabled());
        QTest::keyClick(Edit("boss_name"), Qt::Key_Return);
        EXPECT_EQ(m_messages.Texts(), QStringList{QString::fromUtf8(c.message)}) << c.message;
        SocketHelper::Destroy();
    }
}

TEST_F(LoginDialogTest, PortTextIsReadLikeTheStandardWideStoi) {
    const std::pair<const wchar_t*, int> cases[] = {
        {L"5001", 5001}, {L"5001abc", 5001}, {L"  42", 42}, {L"+7", 7},        {L"-1", -1},
        {L"abc", 0},     {L"", 0},           {L"0x10", 0},  {L"65535", 65535}, {L"99999999999", 0},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(LoginDialog::ReadPort(text), port) << std::wstring(text).size();
    }
}

TEST_F(LoginDialogTest, PortsOutsideOneTo65534AreRefusedBeforeAnyRequest) {
    StartApi(kAccounts);
    for (const char* port : {"0", "65535", "70000", "-1", "abc", "99999999999"}) {
        Open();
        Fill("boss_name", QStringLiteral("boss"));
        Fill("boss_pass", QStringLiteral("secret"));
        Fill("boss_port", QString::fromUtf8(port));
        m_messages.Clear();
        ClickLogin();
        EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("无效端口，请重新输入.")}) << port;
        EXPECT_FALSE(m_dialog->IsClosed());
    }
    EXPECT_EQ(LoginRequests(), 0u);
}

TEST_F(LoginDialogTest, PortHeldByAnotherProgramIsRefusedWithoutARequest) {
    StartApi(kAccounts);
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    socklen_t length = sizeof address;
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    Open();
    Fill("boss_name", QStringLiteral("boss"));
    Fill("boss_pass", QStringLiteral("secret"));
    Fill("boss_port", QString::number(ntohs(address.sin_port)));
    ClickLogin();
    close(holder);
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("端口被占用，请更换其它端口。")});
    EXPECT_EQ(LoginRequests(), 0u);
    EXPECT_TRUE(m_dialog->FindControl<SkinButton>(QStringLiteral("LoginBtn"))->isEnabled());
}

TEST_F(LoginDialogTest, RefusedLoginShowsTheServersTextAndEnablesTheButtonAgain) {
    StartApi(kAccounts);
    Open();
    Fill("boss_name", QStringLiteral("boss"));
    Fill("boss_pass", QStringLiteral("wrong"));
    Fill("boss_port", QString::number(FreeLoopbackPort()));
    ClickLogin();
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("密码错误，请重新输入")});
    EXPECT_EQ(LoginRequests(), 1u);
    EXPECT_FALSE(m_dialog->IsClosed());
    EXPECT_TRUE(m_dialog->FindControl<SkinButton>(QStringLiteral("LoginBtn"))->isEnabled());
    LoginRecord record;
    EXPECT_FALSE(ReadLoginRecord(record) && record.autoLogin);
}

// A refusal that gives no reason still tells the user that the login failed.
TEST_F(LoginDialogTest, RefusalWithoutAReasonIsStillShown) {
    StartApi(R"({"refuse": {"code": 1, "msg": ""}})");
    Open();
    Fill("boss_name", QStringLiteral("nobody"));
    Fill("boss_pass", QStringLiteral("x"));
    Fill("boss_port", QString::number(FreeLoopbackPort()));
    ClickLogin();
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("登录失败。")});
    EXPECT_TRUE(m_dialog->FindControl<SkinButton>(QStringLiteral("LoginBtn"))->isEnabled());
}

TEST_F(LoginDialogTest, UnreachableServerShowsANetworkError) {
    m_dir.Write("Setting.ini",
                "[WebSetting]\nUrl=http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "\n");
    Open();
    Fill("boss_name", QStringLiteral("boss"));
    Fill("boss_pass", QStringLiteral("secret"));
    Fill("boss_port", QString::number(FreeLoopbackPort()));
    ClickLogin();
    ASSERT_EQ(m_messages.Texts().size(), 1);
    EXPECT_FALSE(m_messages.Texts().front().isEmpty());
    EXPECT_TRUE(m_dialog->FindControl<SkinButton>(QStringLiteral("LoginBtn"))->isEnabled());
}

// An accepted login closes the window with 1, keeps the port reserved and
// saves what was typed, the port text as typed ("5001abc" binds 5001).
TEST_F(LoginDialogTest, AcceptedLoginClosesWithOneAndSavesTheLogin) {
    struct Case {
        bool staff;
        const char* userType;
    };
    for (const Case c : {Case{false, "user_type=0"}, Case{true, "user_type=1"}}) {
        StartApi(kAccounts);
        const int port = FreeLoopbackPort();
        const QString portText = QString::number(port) + QStringLiteral("abc");
        Open();
        if (c.staff) {
            ChooseStaff();
            Fill("staff_name", QStringLiteral("boss"));
            Fill("staff_staff", QStringLiteral("s01"));
            Fill("staff_pass", QStringLiteral("secret"));
            Fill("staff_port", portText);
        } else {
            Fill("boss_name", QStringLiteral("boss"));
            Fill("boss_pass", QStringLiteral("secret"));
            Fill("boss_port", portText);
        }
        QTimer::singleShot(0, [this] { ClickLogin(); });
        EXPECT_EQ(m_dialog->ShowModal(), 1);
        EXPECT_TRUE(m_messages.Texts().isEmpty()) << m_messages.Texts().join(' ').toStdString();
        EXPECT_EQ(SocketHelper::GetInstance()->BoundPort(), port);
        const std::string body = LastLoginBody();
        EXPECT_NE(body.find("port=" + portText.toStdString()), std::string::npos) << body;
        EXPECT_NE(body.find(c.userType), std::string::npos) << body;
        LoginRecord record;
        ASSERT_TRUE(ReadLoginRecord(record));
        EXPECT_TRUE(record.autoLogin);
        EXPECT_EQ(record.type, c.staff ? 1 : 0);
        EXPECT_EQ(record.port, portText.toStdString());
        EXPECT_EQ(record.loginStaff, c.staff ? "s01" : "");
        EXPECT_EQ(LoginResult::GetInstance()->serviceIp, "127.0.0.1");
        SocketHelper::Destroy();
    }
}

// With a saved automatic login the window logs in by itself behind a wait
// dialog that the keyboard and the window manager cannot close.
TEST_F(LoginDialogTest, SavedLoginRunsByItselfBehindAWaitDialogThatKeysCannotClose) {
    StartApi(R"({"accounts": [{"user_name": "boss", "pwd": "secret", "id": "88",
        "realname": "一号店", "service_ip": "127.0.0.1", "service_port": 5002}],
        "responses": {"/api/index/voiceLogin": {"delay": 1}}})");
    const std::string port = std::to_string(FreeLoopbackPort());
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", port));
    Open();
    bool waitSurvived = false;
    bool ownerBlocked = false;
    WhenShown<WaitDialog>([&](WaitDialog* wait) {
        ownerBlocked = !m_dialog->isEnabled();
        QTest::keyClick(wait, Qt::Key_Escape);
        QTest::keyClick(wait, Qt::Key_F4, Qt::AltModifier);
        QTest::keyClick(wait, Qt::Key_Return);
        wait->close();
        QCoreApplication::processEvents();
        waitSurvived = wait->isVisible() && !wait->IsClosed();
    });
    EXPECT_EQ(m_dialog->ShowModal(), 1);
    EXPECT_TRUE(waitSurvived);
    EXPECT_TRUE(ownerBlocked);
    EXPECT_EQ(LoginRequests(), 1u);
    EXPECT_NE(LastLoginBody().find("port=" + port), std::string::npos);
    // The form is never filled from the record.
    EXPECT_EQ(Edit("boss_name")->text(), QString());
}

// A quit (a signal, the program's exit) while the server takes the login and
// never answers, with ten minutes allowed: the request is aborted, the window
// closes with 2, and no message is left for nobody.
TEST_F(LoginDialogTest, QuitAbortsALoginTheServerNeverAnswers) {
    StartApi(R"({"responses": {"/api/index/voiceLogin": {"never_answer": true}}})");
    m_dir.Write("Setting.ini", m_dir.Read("Setting.ini") + "TimeOut=600\n");
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(FreeLoopbackPort())));
    Open();
    bool requestWaited = false;
    WhenShown<WaitDialog>([&](WaitDialog*) {
        requestWaited = PumpUntil([&] { return LoginRequests() == 1; });
        m_dialog->RequestQuit();
    });
    EXPECT_EQ(m_dialog->ShowModal(), 2);
    EXPECT_TRUE(requestWaited);
    EXPECT_EQ(m_messages.Texts(), QStringList());
    EXPECT_EQ(m_dialog->CurrentWaitDialog(), nullptr);
}

TEST_F(LoginDialogTest, IncompleteOrDisabledSavedLoginWaitsForTheUser) {
    struct Case {
        int type;
        bool autoLogin;
        const char* name;
        const char* staff;
        const char* port;
    };
    const Case cases[] = {
        {0, false, "boss", "", "5001"},
        {0, true, "", "", "5001"},
        {1, true, "boss", "", "5001"},
        {0, true, "boss", "", ""},
    };
    StartApi(kAccounts);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "/" + c.port + "/" + std::to_string(c.type));
        ASSERT_TRUE(SaveLoginRecord(c.type, true, c.name, "secret", c.staff, c.port));
        // Automatic login is switched off the way the program does it: by logging out.
        if (!c.autoLogin) {
            ASSERT_TRUE(Logout());
        }
        Open();
        WhenShown<LoginDialog>([](LoginDialog* dialog) {
            // Long enough for the automatic login's first tick to have passed.
            QTimer::singleShot(200, dialog, [dialog] {
                QTest::mouseClick(dialog->FindControl<SkinButton>(QStringLiteral("closebtn")),
                                  Qt::LeftButton);
            });
        });
        EXPECT_EQ(m_dialog->ShowModal(), 2);
    }
    EXPECT_EQ(LoginRequests(), 0u);
    EXPECT_TRUE(m_messages.Texts().isEmpty());
}

TEST_F(LoginDialogTest, SavedLoginWithABadPortSaysSo) {
    StartApi(kAccounts);
    ASSERT_TRUE(SaveLoginRecord(0, true, "boss", "secret", "", "70000"));
    Open();
    EXPECT_TRUE(PumpUntil([this] { return !m_messages.Texts().isEmpty(); }));
    EXPECT_EQ(m_messages.Texts(), QStringList{QStringLiteral("无效端口，请重新输入.")});
    EXPECT_EQ(LoginRequests(), 0u);
}

}  // namespace
