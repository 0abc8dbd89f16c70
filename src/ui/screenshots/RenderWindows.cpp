// Renders every window of the program to PNG files for the documentation:
// each window is built from the real skin, shown, and grabbed.
//   voice_screenshots OUTPUT_FOLDER

#include "api/LoginResult.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "app/ModuleDir.h"
#include "app/Socket.h"
#include "app/VoiceServices.h"
#include "link/SocketHelper.h"
#include "ui/LoginDialog.h"
#include "ui/MainFrame.h"
#include "ui/MsgDialog.h"
#include "ui/SetDialog.h"
#include "ui/SettingList.h"
#include "ui/SettingListItem.h"
#include "ui/SkinControls.h"
#include "ui/UiToolkit.h"
#include "ui/WaitDialog.h"
#include "voice/PlayHelper.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>

namespace {

void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool Save(QWidget* window, const QString& folder, const char* name) {
    window->show();
    Settle(300);
    const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    const bool ok = window->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    window->hide();
    return ok;
}

// What the desktop shows when `dialog` is up over `owner`: the dialog centred
// above it.
bool SaveOver(QWidget* owner, QWidget* dialog, const QString& folder, const char* name) {
    owner->show();
    dialog->show();
    Settle(300);
    QPixmap picture = owner->grab();
    const QPixmap top = dialog->grab();
    {
        QPainter painter(&picture);
        painter.drawPixmap((picture.width() - top.width()) / 2,
                           (picture.height() - top.height()) / 2, top);
    }
    const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    const bool ok = picture.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    dialog->hide();
    owner->hide();
    return ok;
}

// A loopback port that was free a moment ago.
int FreePort() {
    const Socket probe = Socket::Open(AF_INET, SOCK_STREAM, 0);
    const int fd = probe.Fd();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    return port;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir temp;
    // Keeps the program's files (settings, logs) in a folder of its own.
    ModuleDir::UseFolder(temp.path().toStdString());
    // Nothing answers there: the windows show their state without a server.
    std::ofstream(temp.path().toStdString() + "/Setting.ini")
        << "[WebSetting]\nUrl=http://127.0.0.1:1\nvolume=75\nshield=1\n";
    if (!SetUpToolkit()) {
        std::fprintf(stderr, "the skin archive could not be loaded\n");
        return 1;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    bool ok = true;

    {
        LoginDialog login(*SocketHelper::GetInstance());
        login.Create(nullptr, QStringLiteral("登录"));
        ok &= Save(&login, out, "login_boss");
        login.FindControl<SkinOption>(QStringLiteral("tab_staff"))->click();
        ok &= Save(&login, out, "login_staff");
        WaitDialog wait;
        wait.Create(&login, QStringLiteral("WaitDialog"));
        ok &= Save(&wait, out, "wait");
        auto* message = new MsgDialog;
        message->Create(&login, QStringLiteral("消息窗口"));
        message->SetText(QStringLiteral("密码错误，请重新输入"));
        ok &= SaveOver(&login, message, out, "login_message");
        delete message;
    }
    {
        auto* message = new MsgDialog;
        message->Create(nullptr, QStringLiteral("消息窗口"));
        message->SetText(QStringLiteral("端口被占用，请更换其它端口。"));
        ok &= Save(message, out, "message");
        delete message;
    }
    {
        LoginResult* login = LoginResult::GetInstance();
        login->serviceIp = "127.0.0.1";
        login->servicePort = 5121;
        login->localIp = "127.0.0.1";
        login->localPort = 5001;
        login->realName = "一号店";
        std::wstring error;
        if (!SocketHelper::GetInstance()->BindPort(FreePort(), error)) {
            std::fprintf(stderr, "no port to listen on\n");
            return 1;
        }
        VoiceServices services(*IniHelper::GetInstance(), *login, *SocketHelper::GetInstance(),
                               *PlayHelper::GetInstance({}));
        MainFrame frame(services, *login);
        frame.Create(nullptr, QStringLiteral("Tallix语音端"));
        ok &= Save(&frame, out, "main_nolink");
        frame.OnLinkState(true);
        ok &= Save(&frame, out, "main_linked");
        frame.OnLinkState(false);
        // The tray menu as it opens from the icon (laid out without popping
        // up: a popup needs a shown window to hang from on Wayland).
        if (QMenu* menu = frame.TrayMenu()) {
            menu->ensurePolished();
            menu->resize(menu->sizeHint());
            const QString path = out + QStringLiteral("/tray_menu.png");
            const bool saved = menu->grab().save(path);
            std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toUtf8().constData());
            ok &= saved;
            menu->hide();
        }

        SetDialog settings(*login);
        settings.Create(nullptr, QStringLiteral("SettingDialog"));
        ok &= Save(&settings, out, "settings");
        settings.ShowPauseList(true);
        SettingList* list = settings.List();
        for (const char* name :
             {"QQMUSIC.EXE", "KUGOU.EXE", "CLOUDMUSIC.EXE", "KWMUSIC.EXE", "VLC.EXE"}) {
            SettingListItem* row = list->CreateRow();
            row->SetName(QString::fromUtf8(name));
            row->SetViewMode(true);
            list->InsertRow(row);
        }
        SettingListItem* fresh = list->CreateRow();
        list->InsertRow(fresh, 0);
        ok &= Save(&settings, out, "settings_pause_list");
    }
    PlayHelper::Destroy();
    SocketHelper::Destroy();
    IniHelper::Destroy();
    LogHelper::Destroy();
    ModuleDir::Install(nullptr);
    return ok ? 0 : 1;
}
