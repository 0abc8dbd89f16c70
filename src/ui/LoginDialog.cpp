#include "ui/LoginDialog.h"
#include "ui/WindowHelpers.h"

#include "api/LoginApi.h"
#include "api/TransferAbort.h"
#include "app/AltSignalStack.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/LoginRecord.h"
#include "app/MainThread.h"
#include "link/SocketHelper.h"
#include "ui/MsgDialog.h"
#include "ui/SkinControls.h"
#include "ui/WaitDialog.h"

#include <QKeyEvent>
#include <QStackedWidget>
#include <QTimer>

#include <pthread.h>

#include <stdexcept>
#include <system_error>
#include <thread>

LoginDialog::LoginDialog(SocketHelper& socket)
    : m_socket(socket), m_abort(std::make_unique<TransferAbort>()) {}
LoginDialog::~LoginDialog() = default;

int LoginDialog::ReadPort(const std::wstring& text) {
    try {
        return std::stoi(text, nullptr, 10);
    } catch (const std::invalid_argument&) {
        return 0;
    } catch (const std::out_of_range&) {
        return 0;
    }
}

void LoginDialog::InitWindow() {
    m_logo = FindControl<SkinLabel>(QStringLiteral("logo"));
    m_title = FindControl<SkinLabel>(QStringLiteral("title"));
    m_tab = FindControl<QStackedWidget>(QStringLiteral("tab"));
    m_tabBoss = FindControl<SkinOption>(QStringLiteral("tab_boss"));
    m_tabStaff = FindControl<SkinOption>(QStringLiteral("tab_staff"));
    m_bossName = FindControl<SkinEdit>(QStringLiteral("boss_name"));
    m_bossPass = FindControl<SkinEdit>(QStringLiteral("boss_pass"));
    m_bossPort = FindControl<SkinEdit>(QStringLiteral("boss_port"));
    m_staffName = FindControl<SkinEdit>(QStringLiteral("staff_name"));
    m_staffStaff = FindControl<SkinEdit>(QStringLiteral("staff_staff"));
    m_staffPass = FindControl<SkinEdit>(QStringLiteral("staff_pass"));
    m_staffPort = FindControl<SkinEdit>(QStringLiteral("staff_port"));
    m_loginBtn = FindControl<SkinButton>(QStringLiteral("LoginBtn"));
    if (m_title) {
        m_title->setText(QStringLiteral("Tallix语音端"));
    }
    if (m_logo) {
        m_logo->setBkImage(QStringLiteral("UI\\logo_qb.png"));
    }
    if (m_bossName) {
        m_bossName->setFocus();
    }
    // The automatic login waits for the first tick so that the window is up
    // before a wait dialog or a message is put over it.
    QTimer::singleShot(10, this, [this] { TryAutoLogin(); });
}

void LoginDialog::Notify(const TNotify& msg) {
    if (msg.type == QLatin1String("selectchanged")) {
        if (!m_tab) {
            return;
        }
        if (msg.sender == m_tabBoss) {
            m_tab->setCurrentIndex(0);
            if (m_bossName) {
                m_bossName->setFocus();
            }
        } else if (msg.sender == m_tabStaff) {
            m_tab->setCurrentIndex(1);
            if (m_staffName) {
                m_staffName->setFocus();
            }
        }
        return;
    }
    WindowImplBase::Notify(msg);
}

void LoginDialog::OnClick(const TNotify& msg) {
    if (IsName(msg.sender, "closebtn")) {
        Close(2);
    } else if (IsName(msg.sender, "LoginBtn")) {
        Login();
    } else {
        WindowImplBase::OnClick(msg);
    }
}

bool LoginDialog::MessageHandler(QEvent* event) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Login();
        return true;
    }
    return false;
}

bool LoginDialog::AllowSystemClose() const {
    // A login in flight must finish first: its worker still reports to this window.
    return !m_busy;
}

void LoginDialog::RequestQuit() {
    m_quitRequested = true;
    // A server that never answers would hold the quit for its whole time limit.
    m_abort->Abort();
    CloseOpenMessages();
    if (!m_busy) {
        Close(2);
    }
}

void LoginDialog::Login() {
    // While a login or one of its messages is up the window is disabled, but
    // a click can still give it the keyboard: its Enter must not start a
    // second login behind the first.
    if (!m_tabBoss || !m_tabStaff || m_busy || !isEnabled()) {
        return;
    }
    try {
        if (m_tabBoss->isChecked()) {
            BossLogin();
        } else if (m_tabStaff->isChecked()) {
            StaffLogin();
        }
    } catch (...) {
        LogError("异常发生  LoginDialog::Login");
    }
}

bool LoginDialog::CheckFilled(SkinEdit* edit, const QString& text) {
    if (edit && !edit->text().isEmpty()) {
        return true;
    }
    ShowMessage(this, text);
    if (edit) {
        edit->setFocus();
    }
    return false;
}

bool LoginDialog::ReservePort(int port) {
    if (!IsValidPort(port)) {
        ShowMessage(this, QStringLiteral("无效端口，请重新输入."));
        return false;
    }
    std::wstring error;
    if (!m_socket.BindPort(port, error)) {
        ShowMessage(this, QString::fromStdWString(error));
        return false;
    }
    return true;
}

void LoginDialog::BossLogin() {
    if (!CheckFilled(m_bossName, QStringLiteral("门店帐号不能为空")) ||
        !CheckFilled(m_bossPass, QStringLiteral("门店密码不能为空")) ||
        !CheckFilled(m_bossPort, QStringLiteral("端口号不能为空"))) {
        return;
    }
    if (!ReservePort(ReadPort(m_bossPort->text().toStdWString()))) {
        return;
    }
    StartLogin(m_bossName->text().toStdString(), m_bossPass->text().toStdString(),
               m_bossPort->text().toStdString(), 0, std::string());
}

void LoginDialog::StaffLogin() {
    if (!CheckFilled(m_staffName, QStringLiteral("门店帐号不能为空")) ||
        !CheckFilled(m_staffStaff, QStringLiteral("员工帐号不能为空")) ||
        !CheckFilled(m_staffPass, QStringLiteral("员工密码不能为空")) ||
        !CheckFilled(m_staffPort, QStringLiteral("端口号不能为空"))) {
        return;
    }
    if (!ReservePort(ReadPort(m_staffPort->text().toStdWString()))) {
        return;
    }
    StartLogin(m_staffName->text().toStdString(), m_staffPass->text().toStdString(),
               m_staffPort->text().toStdString(), 1, m_staffStaff->text().toStdString());
}

void LoginDialog::TryAutoLogin() {
    if (m_busy || IsClosed() || m_quitRequested) {
        return;
    }
    try {
        LoginRecord record;
        if (!ReadLoginRecord(record) || !record.autoLogin) {
            return;
        }
        if (record.loginName.empty() || record.loginPwd.empty() ||
            (record.type == 1 && record.loginStaff.empty()) || record.port.empty()) {
            return;
        }
        if (!ReservePort(ReadPort(Utf8ToWide(record.port)))) {
            return;
        }
        StartLogin(record.loginName, record.loginPwd, record.port, record.type, record.loginStaff);
    } catch (...) {
        LogError("异常发生  LoginDialog::TryAutoLogin");
    }
}

void LoginDialog::RunJob(LoginJob& job, WaitDialog* wait, TransferAbort* abort) {
    const AltSignalStack signalStack;
    pthread_setname_np(pthread_self(), "voice-login");
    int result = kRequestFailed;
    try {
        std::string answer;
        if (!RequestLogin(job.loginType, answer, job.userName, job.password, job.staffAccount,
                          job.port, abort)) {
            job.message = answer;
        } else if (!ParseLogin(job.message, answer)) {
            result = kRefused;
        } else {
            if (!SaveLoginRecord(job.loginType, true, job.userName, job.password, job.staffAccount,
                                 job.port)) {
                // The login itself stands; only the next automatic login is lost.
                LogError("保存登录信息失败。");
            }
            result = kLoggedIn;
        }
    } catch (...) {
        LogError("发生异常 LoginDialog::RunJob");
        job.message = "登录出错。";
        result = kRequestFailed;
    }
    // The last touch of the job: after this the window thread may drop it.
    wait->Close(result);
}

void LoginDialog::StartLogin(const std::string& userName, const std::string& password,
                             const std::string& port, int loginType,
                             const std::string& staffAccount) {
    AssertMainThread();
    if (m_loginBtn) {
        m_loginBtn->setEnabled(false);
    }
    m_busy = true;
    int result = -1;
    LoginJob job{userName, password, port, loginType, staffAccount, std::string()};
    try {
        WaitDialog wait;
        wait.Create(this, QStringLiteral("WaitDialog"));
        wait.CenterWindow();
        std::thread worker;
        try {
            worker = std::thread(&LoginDialog::RunJob, std::ref(job), &wait, m_abort.get());
        } catch (const std::system_error&) {
            // Without a worker nothing would ever close the wait dialog.
            LogError("登录线程启动失败。");
            job.message = "无法开始登录，请重试。";
            result = kRequestFailed;
        }
        if (worker.joinable()) {
            m_wait = &wait;
            result = wait.ShowModal();
            m_wait = nullptr;
            worker.join();
        }
    } catch (...) {
        m_wait = nullptr;
        LogError("异常发生  LoginDialog::StartLogin");
    }
    m_busy = false;
    if (result == kLoggedIn) {
        Close(m_quitRequested ? 2 : 1);
        return;
    }
    if (!m_quitRequested && (result == kRequestFailed || result == kRefused)) {
        // A refusal without a reason would leave an empty message box.
        const QString text = job.message.empty() ? QStringLiteral("登录失败。")
                                                 : QString::fromStdString(job.message);
        ShowMessage(this, text);
    }
    if (m_loginBtn) {
        m_loginBtn->setEnabled(true);
    }
    if (m_quitRequested) {
        Close(2);
    }
}
