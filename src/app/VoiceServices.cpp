#include "app/VoiceServices.h"

#include "api/BaseUrl.h"
#include "api/LoginResult.h"
#include "api/UpdateApi.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "app/MainThread.h"
#include "link/CashierMessage.h"
#include "link/SocketHelper.h"
#include "voice/PlayHelper.h"

namespace {
void LogError(const std::string& line) {
    if (LogHelper* log = LogHelper::GetInstance()) {
        log->Error(line);
    }
}
}  // namespace

VoiceServices::VoiceServices(IniHelper& settings, const LoginResult& login, SocketHelper& socket,
                             PlayHelper& player)
    : m_settings(settings),
      m_login(login),
      m_socket(socket),
      m_player(player),
      m_clipDownloader(ToMainThread()),
      m_updateCheck(ToMainThread()),
      m_composer([this](const Announcement& announcement) { m_player.Enqueue(announcement); },
                 [this] { return m_settings.Settings().wxOpen; },
                 [this](const std::string& serverPath, const std::string& localPath,
                        std::function<void()> done) {
                     FetchClip(serverPath, localPath, std::move(done));
                 }),
      m_reader([this](const CashierMessage& message) { Compose(m_composer, message); }),
      m_playThread(player) {
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(kServicesDelayMs);
    connect(&m_startTimer, &QTimer::timeout, this, &VoiceServices::StartBackground);
    m_updateTimer.setInterval(kUpdateIntervalMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &VoiceServices::LaunchUpdate);
}

VoiceServices::~VoiceServices() {
    Stop();
}

bool VoiceServices::Start() {
    AssertMainThread();
    m_player.SetVolume(static_cast<unsigned>(Volume()));
    if (!m_socket.StartListening([this](SocketHandle fd) { return m_reader.OnSocketRead(fd); })) {
        return false;
    }
    m_listening = true;
    m_startTimer.start();
    m_updateTimer.start();
    return true;
}

void VoiceServices::StartBackground() {
    AssertMainThread();
    m_startTimer.stop();
    if (m_started || m_stopped) {
        return;
    }
    m_started = true;
    try {
        // The answer may take up to the request's time limit; the cashier
        // and the window go on meanwhile.
        m_updateCheck.Start(
            [this](bool ok, const std::string& answer) { OnUpdateAnswer(ok, answer); });
        m_playThread.Start();
        if (!m_login.serviceIp.empty() && m_login.servicePort != 0) {
            m_linkChecker.Start(m_login.serviceIp, m_login.servicePort, [this](bool reachable) {
                // Called on the link-check thread; the display belongs to the
                // main one. Queued, since a blocking hand-over would deadlock
                // with Stop() joining this thread.
                QMetaObject::invokeMethod(
                    this, [this, reachable] { emit LinkStateChanged(reachable); },
                    Qt::QueuedConnection);
            });
        } else {
            LogError("获取语音端信息出错，未开启检测线程");
        }
    } catch (...) {
        LogError("异常发生  MainFrame::StartServices");
    }
}

void VoiceServices::OnUpdateAnswer(bool ok, const std::string& answer) {
    AssertMainThread();
    if (ok && !answer.empty()) {
        m_updateUrl = Utf8ToWide(answer);
        LaunchUpdater(m_updateUrl);
    }
}

void VoiceServices::LaunchUpdate() {
    AssertMainThread();
    LaunchUpdater(m_updateUrl);
}

void VoiceServices::Stop() {
    AssertMainThread();
    m_stopped = true;
    // First, so that a stalled web server never holds up the exit.
    m_updateCheck.Stop();
    m_clipDownloader.Stop();
    m_startTimer.stop();
    m_updateTimer.stop();
    m_playThread.Stop();
    m_linkChecker.Stop();
    if (m_listening) {
        m_listening = false;
        m_socket.StopListening();
    }
}

int VoiceServices::Volume() const {
    // A hand-edited file may hold any number; the player works on 0..100.
    return IniHelper::ClampVolume(m_settings.Settings().volume);
}

bool VoiceServices::Shield() const {
    return m_settings.Settings().shield.load();
}

void VoiceServices::SetVolume(int volume, bool save) {
    AssertMainThread();
    if (save) {
        m_settings.SetVolume(volume);
    } else {
        m_settings.Settings().volume = IniHelper::ClampVolume(volume);
    }
    m_player.SetVolume(static_cast<unsigned>(volume));
}

void VoiceServices::SetShield(bool on) {
    AssertMainThread();
    m_settings.Settings().shield = on;
    m_settings.SaveShield();
}

void VoiceServices::Compose(AnnouncementComposer& composer, const CashierMessage& message) {
    switch (message.form) {
        case CashierMessage::Form::Comma:
            composer.ComposeCommaMessage(message.subject, message.code);
            break;
        case CashierMessage::Form::Dot:
            composer.ComposeDotMessage(message.subject, message.detail, message.code);
            break;
        case CashierMessage::Form::Ignored:
            break;
    }
}

Deliver VoiceServices::ToMainThread() {
    return [this](std::function<void()> report) {
        // Queued to this object, so a report still on its way when the
        // services go is dropped with them.
        QMetaObject::invokeMethod(
            this,
            [this, report = std::move(report)] {
                if (!m_stopped) {
                    report();
                }
            },
            Qt::QueuedConnection);
    };
}

void VoiceServices::FetchClip(const std::string& serverPath, const std::string& localPath,
                              std::function<void()> done) {
    // The clip is queued by `done` once the file is complete (or the fetch
    // failed), so messages that arrive meanwhile are spoken first.
    m_clipDownloader.Fetch(GetBaseUrl() + serverPath, localPath, std::move(done));
}
