// The program's entry point: one copy at a time, the audio pack, the toolkit,
// the login window, then the main window's loop for as long as the program
// lives, and the services taken down in a fixed order.

#include "app/CrashHandler.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "app/SingleInstance.h"
#include "link/FileLimit.h"
#include "link/SocketHelper.h"
#include "ui/LoginDialog.h"
#include "ui/MainFrame.h"
#include "ui/UiToolkit.h"
#include "voice/AudioPack.h"
#include "voice/PlayHelper.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only a write: the main loop reads the pipe and leaves the way the tray's
// "退出" does, so settings are saved and threads joined.
void OnQuitSignal(int) {
    const char byte = 1;
    const ssize_t written = write(g_signalPipe[1], &byte, 1);
    (void)written;
}

bool InstallQuitSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        return false;
    }
    fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return true;
}

// Settings, saved login, logs, crash records and clips all live beside the
// program: in a folder it cannot write, each of them would fail on its own
// later, and quietly. Tried with a real file, since root passes access().
bool ProgramDirWritable(std::string& why) {
    const std::string dir = WideToUtf8(GetModuleDir());
    std::string probe = dir + ".write-test-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        why = dir + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

void ShutDownServices() {
    PlayHelper::Destroy();
    SocketHelper::Destroy();
    IniHelper::Destroy();
    LogHelper::Destroy();
}

}  // namespace

int main(int argc, char* argv[]) {
    InstallCrashHandler();
    // A cashier that hangs up mid-reply must not end the program.
    signal(SIGPIPE, SIG_IGN);
    RaiseFileLimit();

    if (std::string why; !ProgramDirWritable(why)) {
        std::fprintf(stderr, "程序目录不可写 (program folder not writable): %s\n", why.c_str());
        RemoveCrashHandler();
        return 1;
    }

    SingleInstance instance;
    if (!instance.Acquire()) {
        instance.NotifyRunning();
        if (LogHelper* log = LogHelper::GetInstance()) {
            log->Error("The program is already running.");
        }
        LogHelper::Destroy();
        RemoveCrashHandler();
        return 0;
    }

    // The settings are read once, up front: the debug switch governs the log
    // from the first line on, and shutdown always writes volume and shield back.
    IniHelper::GetInstance();
    UnpackAudioPack();

    QApplication app(argc, argv);
    // Every path the program uses is absolute; the folder matters to the
    // programs it starts (the updater) and to anyone reading a core file.
    const std::string dir = WideToUtf8(GetModuleDir());
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
        LogHelper::GetInstance()->Error("无法进入程序目录: " + dir);
    }
    SetUpToolkit();

    QPointer<LoginDialog> login;
    QPointer<MainFrame> frame;
    bool quitRequested = false;
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (InstallQuitSignals()) {
        quitNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, [&] {
            char buffer[16];
            while (read(g_signalPipe[0], buffer, sizeof buffer) == sizeof buffer) {
            }
            quitRequested = true;
            if (frame) {
                frame->OnMenuExit();
            } else if (login) {
                login->RequestQuit();
            }
        });
    }

    int result = 0;
    {
        LogHelper::GetInstance()->Info("Voice " + GetAppVersion() +
                                       " started, showing the login window.");
        LoginDialog dialog;
        login = &dialog;
        dialog.Create(nullptr, QStringLiteral("登录"));
        dialog.CenterWindow();
        result = dialog.ShowModal();
    }
    if (result == 1 && !quitRequested) {
        MainFrame mainFrame;
        frame = &mainFrame;
        mainFrame.Create(nullptr, QStringLiteral("Tallix语音端"));
        mainFrame.CenterWindow();
        mainFrame.ShowModal();
        // Leaving this scope stops the play thread and the link check before
        // the services they use go away.
    }
    quitNotifier.reset();

    ShutDownServices();
    RemoveCrashHandler();
    return 0;
}
