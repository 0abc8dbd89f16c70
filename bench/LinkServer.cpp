// The voice side's cashier link on its own, for the load tool: the real
// SocketHelper and MessageReader on the Qt event loop, as in the program, with
// the composer handing announcements either to a counter ("count") or to the
// real play queue without a play thread ("queue"), or the program's own
// VoiceServices as after login ("services": the play thread polling every
// 100 ms and the link check probing this very port every 10 s), for the
// resource figures.
//
//   link_server PORT [count|queue|services]   ends on SIGINT/SIGTERM, printing the totals
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <memory>

#include "BenchProgramDir.h"
#include "api/LoginResult.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "app/VoiceServices.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "voice/AnnouncementComposer.h"
#include "voice/PlayHelper.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: link_server PORT [count|queue|services]\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string mode = argc > 2 ? argv[2] : "count";
    if (mode != "count" && mode != "queue" && mode != "services") {
        std::fprintf(stderr, "link_server: mode must be count, queue or services\n");
        return 2;
    }
    UseBenchProgramDir("[WebSetting]\nUrl=http://127.0.0.1:1\nTimeOut=1\ndebug=0\n");
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    long announced = 0;
    long probes = 0;
    std::wstring error;
    SocketHelper* link = SocketHelper::GetInstance();
    if (!link->BindPort(port, error)) {
        std::fprintf(stderr, "link_server: cannot listen on %d: %s\n", port,
                     WideToUtf8(error).c_str());
        return 1;
    }
    std::unique_ptr<VoiceServices> services;
    std::unique_ptr<AnnouncementComposer> composer;
    std::unique_ptr<MessageReader> reader;
    bool listening = false;
    PlayHelper* play = nullptr;
    if (mode == "services") {
        play = PlayHelper::GetInstance({});
        LoginResult::GetInstance()->serviceIp = "127.0.0.1";
        LoginResult::GetInstance()->servicePort = static_cast<uint32_t>(port);
        if (play == nullptr) {
            return 1;
        }
        services = std::make_unique<VoiceServices>(*IniHelper::GetInstance(),
                                                   *LoginResult::GetInstance(), *link, *play);
        QObject::connect(services.get(), &VoiceServices::LinkStateChanged,
                         [&probes](bool) { ++probes; });
        listening = services->Start();
    } else {
        AnnouncementComposer::Sink sink;
        if (mode == "count") {
            sink = [&](const Announcement&) { ++announced; };
        } else {
            play = PlayHelper::GetInstance({});
            sink = [&announced, play](const Announcement& a) {
                ++announced;
                if (play)
                    play->Enqueue(a);
            };
        }
        composer = std::make_unique<AnnouncementComposer>(sink);
        reader = std::make_unique<MessageReader>(
            [&](const CashierMessage& m) { VoiceServices::Compose(*composer, m); });
        listening = link->StartListening([&](int fd) { return reader->OnSocketRead(fd); });
    }
    if (!listening) {
        std::fprintf(stderr, "link_server: cannot listen on %d\n", port);
        return 1;
    }
    std::printf("listening %d\n", port);
    std::fflush(stdout);

    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, [&] {
        if (g_stop)
            app.quit();
    });
    stopCheck.start(100);
    // In services mode the queue's progress is printed as it changes, so that a
    // script can tell when it has run dry.
    QTimer progress;
    std::string lastProgress;
    if (mode == "services") {
        QObject::connect(&progress, &QTimer::timeout, [&] {
            PlayHelper* p = play;
            if (p == nullptr)
                return;
            const std::string now = "queue=" + std::to_string(p->QueueLength()) +
                                    " busy=" + std::to_string(p->IsBusy() ? 1 : 0);
            if (now != lastProgress) {
                std::printf("%s\n", now.c_str());
                std::fflush(stdout);
                lastProgress = now;
            }
        });
        progress.start(250);
    }
    app.exec();

    if (services) {
        services->Stop();
    }
    const size_t queued = play ? play->QueueLength() : 0;
    if (services) {
        // The program's own sink feeds the queue; what was announced is what it took.
        std::printf("queued=%zu link_probes=%ld\n", queued, probes);
    } else {
        std::printf("announced=%ld queued=%zu\n", announced, queued);
    }
    services.reset();
    PlayHelper::Destroy();
    SocketHelper::Destroy();
    RemoveBenchProgramDir();
    return 0;
}
