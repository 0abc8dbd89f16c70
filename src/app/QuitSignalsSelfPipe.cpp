#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t s_writeFd = -1;

void OnQuitSignal(int) {
    const char byte = 1;
    const ssize_t written = write(s_writeFd, &byte, 1);
    (void)written;
}

void SetQuitHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal or session (SIGHUP) and SIGQUIT leave the same way:
    // their default would end the program with others' audio still lowered.
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> onQuit) : m_onQuit(std::move(onQuit)) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0) {
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    // A burst of signals must never block the handler, nor a drain that
    // meets exactly a buffer's worth block the main loop.
    fcntl(m_fds[0], F_SETFL, O_NONBLOCK);
    fcntl(m_fds[1], F_SETFL, O_NONBLOCK);
    s_writeFd = m_fds[1];
    SetQuitHandler(OnQuitSignal);
    m_installed = true;
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
}

QuitSignals::~QuitSignals() {
    if (!Installed()) {
        return;
    }
    // The handler goes before its descriptor does, so it never writes into a
    // closed (or reused) one.
    SetQuitHandler(SIG_IGN);
    s_writeFd = -1;
    m_notifier.reset();
    close(m_fds[0]);
    close(m_fds[1]);
}

void QuitSignals::Drain() {
    char buffer[16];
    while (read(m_fds[0], buffer, sizeof buffer) == sizeof buffer) {
    }
    if (m_onQuit) {
        m_onQuit();
    }
}
