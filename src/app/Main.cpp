// The program's entry point and the one place that wires it: one copy at a
// time, the process-wide services made in order, the audio pack, the toolkit,
// the login window, then the services after login and the main window for as
// long as the program lives, and everything taken down in the reverse order.
// Every piece is handed what it uses here; the whole life of the process reads
// top to bottom in main().

#include "api/LoginResult.h"
#include "app/CrashHandler.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/VoiceServices.h"
#include "link/FileLimit.h"
#include "link/SocketHelper.h"
#include "ui/LoginDialog.h"
#include "ui/MainFrame.h"
#include "ui/MsgDialog.h"
#include "ui/UiToolkit.h"
#include "voice/AudioPack.h"
#include "voice/PlayHelper.h"
#include "voice/ShieldOthers.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

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

// A second copy tells the first and leaves; it starts, reads and writes nothing else.
int RunAsSecondCopy(SingleInstance& instance) {
    instance.NotifyRunning();
    if (LogHelper* log = LogHelper::GetInstance()) {
        log->Error("The program is already running.");
    }
    LogHelper::Destroy();
    RemoveCrashHandler();
    return 0;
}

// Every path the program uses is absolute; the folder matters to the programs
// it starts (the updater) and to anyone reading a core file.
void EnterProgramDir() {
    const std::string dir = WideToUtf8(GetModuleDir());
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
        LogHelper::GetInstance()->Error("无法进入程序目录: " + dir);
    }
}

// Which window a quit signal closes, and a second start brings to the front:
// whichever is open.
struct OpenWindows {
    QPointer<LoginDialog> login;
    QPointer<MainFrame> frame;
    bool quitRequested = false;

    // Each window closes what runs over it (a message, the wait dialog's
    // request, the settings window) first.
    void Quit() {
        quitRequested = true;
        if (frame) {
            frame->OnMenuExit();
        } else if (login) {
            login->RequestQuit();
        }
    }

    // The window may be hidden in a tray that has gone since, or minimised
    // with none to begin with: a second start is the way back to it.
    void Show() {
        if (frame && !frame->IsClosed()) {
            LogHelper::GetInstance()->Info("Started again: showing the main window.");
            frame->OnMenuShow();
        } else if (login && !login->IsClosed()) {
            LogHelper::GetInstance()->Info("Started again: showing the login window.");
            login->showNormal();
            login->raise();
            login->activateWindow();
        }
    }
};

// The login window's close code: 1 when logged in.
int RunLogin(OpenWindows& windows, SocketHelper& socket) {
    LogHelper::GetInstance()->Info("Voice " + GetAppVersion() +
                                   " started, showing the login window.");
    LoginDialog dialog(socket);
    windows.login = &dialog;
    dialog.Create(nullptr, QStringLiteral("登录"));
    dialog.CenterWindow();
    return dialog.ShowModal();
}

// The services' whole life: started once the main window shows, stopped when
// it has closed, before the singletons they were handed go.
void RunMainWindow(VoiceServices& services, const LoginResult& login, OpenWindows& windows) {
    MainFrame mainFrame(services, login);
    windows.frame = &mainFrame;
    mainFrame.Create(nullptr, QStringLiteral("Tallix语音端"));
    mainFrame.CenterWindow();
    mainFrame.show();
    if (!services.Start()) {
        mainFrame.OnListeningFailed();
    }
    mainFrame.ShowModal();
    // Its threads are joined here.
    services.Stop();
}

// Debug lines follow the settings' switch for as long as the settings live.
bool DebugSwitchOn() {
    const IniHelper* ini = IniHelper::Peek();
    return ini != nullptr && ini->Settings().debug.load();
}

// The play queue reads the user's shield switch as each run starts, and
// begins at the stored volume.
PlayHelper::Options PlayOptions(IniHelper& ini) {
    PlayHelper::Options options;
    options.shieldOn = [&ini] { return ini.Settings().shield.load(); };
    options.volume = static_cast<unsigned>(IniHelper::ClampVolume(ini.Settings().volume));
    return options;
}

// Whether a desktop is there to show a window on. Without one (a service
// start, a terminal without a display) the toolkit could not even start.
bool DisplayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform &&
        (std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0)) {
        return false;
    }
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("WAYLAND_DISPLAY") || set("DISPLAY");
}

// One line on standard error and, since nobody reads that when the program
// was started from the desktop or at login, the message dialog where a
// desktop is there.
void ReportUnwritableDir(const std::string& why, int& argc, char** argv) {
    std::fprintf(stderr, "程序目录不可写 (program folder not writable): %s\n", why.c_str());
    if (DisplayAvailable()) {
        QApplication app(argc, argv);
        SetUpToolkit();
        ShowMessage(nullptr, QStringLiteral("程序目录不可写，程序退出：") +
                                 QString::fromStdWString(GetModuleDir()));
    }
}

// In the reverse order of their creation in main(); one never made is skipped.
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

    // First, so that a second copy never shows a window of its own.
    SingleInstance instance;
    if (!instance.Acquire()) {
        return RunAsSecondCopy(instance);
    }

    if (std::string why; !ProgramDirWritable(why)) {
        ReportUnwritableDir(why, argc, argv);
        RemoveCrashHandler();
        return 1;
    }

    // The settings are read once, up front: the debug switch governs the log
    // from the first line on, and shutdown always writes volume and shield back.
    IniHelper* ini = IniHelper::GetInstance();
    LogHelper::GetInstance();
    LogHelper::FollowDebugSwitch(DebugSwitchOn);
    LoginResult* login = LoginResult::GetInstance();
    // Before anything plays, and only in the one copy that runs: levels a
    // crashed or killed run left lowered come back.
    RestoreLevelsLeftLowered();
    UnpackAudioPack();

    QApplication app(argc, argv);
    EnterProgramDir();
    SetUpToolkit();
    // The login reserves the port on it; the services listen on it.
    SocketHelper* socket = SocketHelper::GetInstance();

    int status = 0;
    OpenWindows windows;
    if (socket == nullptr) {
        status = 1;
    } else {
        QuitSignals quitSignals([&windows] { windows.Quit(); });
        // Notices of later starts, taken on the main loop for as long as the
        // windows live (the name itself is held until the process ends).
        std::unique_ptr<QSocketNotifier> starts;
        if (instance.NoticeFd() != kNoSocket) {
            starts = std::make_unique<QSocketNotifier>(instance.NoticeFd(), QSocketNotifier::Read);
            QObject::connect(starts.get(), &QSocketNotifier::activated, [&instance, &windows] {
                if (instance.TakeNotices()) {
                    windows.Show();
                }
            });
        }
        if (RunLogin(windows, *socket) == 1 && !windows.quitRequested) {
            if (PlayHelper* player = PlayHelper::GetInstance(PlayOptions(*ini))) {
                VoiceServices services(*ini, *login, *socket, *player);
                RunMainWindow(services, *login, windows);
            } else {
                status = 1;
            }
        }
    }

    ShutDownServices();
    RemoveCrashHandler();
    return status;
}
