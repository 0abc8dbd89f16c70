#pragma once

#include "ui/WindowImplBase.h"

#include <memory>
#include <string>

class QStackedWidget;
class TransferAbort;
class SkinButton;
class SkinEdit;
class SkinLabel;
class SkinOption;
class WaitDialog;
class SocketHelper;

// What one login attempt hands to its worker thread.
struct LoginJob {
    std::string userName;      // UTF-8
    std::string password;      // UTF-8
    std::string port;          // the port text as typed
    int loginType = 0;         // 0 boss login, 1 staff login
    std::string staffAccount;  // UTF-8; empty for a boss login
    std::string message;       // the worker leaves the failure text here
};

// The first window of a run: boss or staff login, checked here, reserved port,
// the request on a worker thread behind a wait dialog, and an automatic login
// from the saved record right after the window opens.
// Close codes: 1 logged in, 2 closed by the user.
class LoginDialog : public WindowImplBase {
    Q_OBJECT
public:
    // Codes with which the worker ends the wait dialog.
    enum WaitResult { kLoggedIn = 0, kRequestFailed = 3, kRefused = 4 };

    // `socket`: where the chosen port is reserved for the main window.
    explicit LoginDialog(SocketHelper& socket);
    ~LoginDialog() override;

    QString GetWindowClassName() const override { return QStringLiteral("LoginDialog"); }
    QString GetSkinFile() const override { return QStringLiteral("Xmls\\LoginDialog.xml"); }

    void Login();
    void TryAutoLogin();
    // Leaves the window with code 2 (signals, program exit): a running login
    // request is aborted and the window closes once its worker has reported;
    // a message shown over the window is closed too.
    void RequestQuit();
    // The wait dialog of the running attempt, or nullptr.
    WaitDialog* CurrentWaitDialog() const { return m_wait; }

    // Reads a port text the way the standard wide stoi does with base 10:
    // blanks skipped, an optional sign, the longest run of digits, the rest
    // ignored. No digits or a value outside 32 bits gives 0.
    static int ReadPort(const std::wstring& text);
    static bool IsValidPort(int port) { return port >= 1 && port <= 65534; }

protected:
    void InitWindow() override;
    void Notify(const TNotify& msg) override;
    void OnClick(const TNotify& msg) override;
    bool MessageHandler(QEvent* event) override;
    bool AllowSystemClose() const override;

private:
    void BossLogin();
    void StaffLogin();
    // Shows `text` when an edit is empty and gives it the focus.
    bool CheckFilled(SkinEdit* edit, const QString& text);
    bool ReservePort(int port);
    void StartLogin(const std::string& userName, const std::string& password,
                    const std::string& port, int loginType, const std::string& staffAccount);
    static void RunJob(LoginJob& job, WaitDialog* wait, TransferAbort* abort);

    SocketHelper& m_socket;
    SkinLabel* m_logo = nullptr;
    SkinLabel* m_title = nullptr;
    QStackedWidget* m_tab = nullptr;
    SkinOption* m_tabBoss = nullptr;
    SkinOption* m_tabStaff = nullptr;
    SkinEdit* m_bossName = nullptr;
    SkinEdit* m_bossPass = nullptr;
    SkinEdit* m_bossPort = nullptr;
    SkinEdit* m_staffName = nullptr;
    SkinEdit* m_staffStaff = nullptr;
    SkinEdit* m_staffPass = nullptr;
    SkinEdit* m_staffPort = nullptr;
    SkinButton* m_loginBtn = nullptr;
    WaitDialog* m_wait = nullptr;
    // Ends the login request at a quit; stays aborted, as no login follows a quit.
    std::unique_ptr<TransferAbort> m_abort;
    bool m_busy = false;
    bool m_quitRequested = false;
};
