#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

#include "api/ClipDownloader.h"
#include "api/Deliver.h"
#include "api/UpdateCheck.h"
#include "link/LinkChecker.h"
#include "link/MessageReader.h"
#include "voice/AnnouncementComposer.h"
#include "voice/PlayThread.h"

class IniHelper;
class PlayHelper;
class SocketHelper;
struct CashierMessage;
class LoginResult;

// The voice side's services after login: the cashier messages read from the
// listening socket and composed into announcements, the play thread that
// speaks them, the link check, the update schedule, and the downloads of
// server clips. Nothing here waits on the web API: the update check and the
// downloads run on threads of their own and report back to this object on
// the main thread. Created, started and stopped by main() once the login
// succeeded, and gone before the singletons it is handed; the main window
// only shows what it reports and forwards the user's volume and shield switch.
// Lives on the main thread.
class VoiceServices : public QObject {
    Q_OBJECT
public:
    static constexpr int kServicesDelayMs = 100;
    static constexpr int kUpdateIntervalMs = 6 * 60 * 60 * 1000;

    // The settings (volume, shield switch, the store's WeChat switch), the
    // login's answer (the cashier address the link check probes), the port
    // the login reserved, and the play queue.
    VoiceServices(IniHelper& settings, const LoginResult& login, SocketHelper& socket,
                  PlayHelper& player);
    ~VoiceServices() override;  // Stop()

    // Starts listening with the message reader and arms the start-up delay,
    // after which the update request, the play thread and the link check
    // start. False when the port cannot be listened on.
    bool Start();
    // Aborts the update request and the download under way, stops the timers
    // and listening, and joins every thread it started. Nothing reported
    // afterwards reaches the services. Safe to call more than once.
    void Stop();
    bool Started() const { return m_started; }
    const std::wstring& UpdateUrl() const { return m_updateUrl; }

    // What the window shows when it opens: the stored volume (0..100) and
    // shield switch.
    int Volume() const;
    bool Shield() const;
    // The user's volume (0..100): given to the player and kept in the settings,
    // which are written unless `save` is false (a drag of the slider passes
    // every value on its way; its end is saved).
    void SetVolume(int volume, bool save = true);
    // The user's shield switch: saved in the settings, read by the next run.
    void SetShield(bool on);

    // A cut message handed to the composer by its form (also for the
    // benchmarks, which wire the road by hand).
    static void Compose(AnnouncementComposer& composer, const CashierMessage& message);

signals:
    // The link check's verdict, delivered on the main thread.
    void LinkStateChanged(bool reachable);

private:
    void StartBackground();
    void LaunchUpdate();
    void OnUpdateAnswer(bool ok, const std::string& answer);
    // Fetches a server clip on the download thread; `done` runs on the main thread.
    void FetchClip(const std::string& serverPath, const std::string& localPath,
                   std::function<void()> done);
    // Runs a worker's report on the main thread, unless the services have stopped.
    Deliver ToMainThread();

    IniHelper& m_settings;
    const LoginResult& m_login;
    SocketHelper& m_socket;
    PlayHelper& m_player;
    ClipDownloader m_clipDownloader;
    UpdateCheck m_updateCheck;
    AnnouncementComposer m_composer;
    MessageReader m_reader;
    PlayThread m_playThread;
    LinkChecker m_linkChecker;
    QTimer m_startTimer;
    QTimer m_updateTimer;
    std::wstring m_updateUrl;
    bool m_listening = false;
    bool m_started = false;
    bool m_stopped = false;
};
