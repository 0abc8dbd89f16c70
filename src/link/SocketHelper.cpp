#include "link/SocketHelper.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/LogHelper.h"
#include "app/MainThread.h"
#include "app/SingletonSlot.h"

namespace {

SingletonSlot<SocketHelper> s_slot;

const wchar_t* const kCreateFailed = L"创建监听SOCKET出错。";
const wchar_t* const kPortTaken = L"端口被占用，请更换其它端口。";

// Connections taken per accept event before the loop gets its turn again.
const int kAcceptBurst = 64;
// Pause of the accept notifier while no descriptor is left for a connection,
// so that a full table does not make the main thread spin on the same event.
const int kAcceptPauseMs = 100;
// Send buffer of a cashier connection. Replies are two bytes each, so this
// holds thousands of them; it also bounds what a peer that never reads its
// replies can pin down, instead of the kernel growing the buffer to megabytes.
const int kReplyBufferBytes = 8192;
// Pause between attempts to listen again after the listening socket failed.
const int kRelistenRetryMs = 1000;

// The address to listen on: every local IPv4 address, unless the environment
// names one (tests and the demo keep the port on 127.0.0.1 this way).
bool ListenAddress(in_addr& address) {
    const char* configured = std::getenv("VOICE_LISTEN_ADDRESS");
    if (configured == nullptr || *configured == '\0') {
        address.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, configured, &address) == 1;
}

void CloseFd(int fd) {
    // Linux releases the descriptor even when close reports EINTR; retrying
    // could close a descriptor that another part of the program just got.
    ::close(fd);
}

// Failures of accept that concern one pending connection, not the listening
// socket: the next accept may well succeed.
bool IsTransientAcceptError(int err) {
    switch (err) {
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
        case ETIMEDOUT:
            return true;
        default:
            return false;
    }
}

bool IsOutOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

}  // namespace

struct SocketHelper::Impl {
    Impl() = default;
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    enum class BindResult { Bound, CreateFailed, BindFailed };
    BindResult Bind(int port);
    bool Listen();
    void CloseListening();
    void CloseClients();
    void CloseClient(int fd);
    void OnAcceptReady();
    void OnClientReady(int fd);
    void ListeningFailed();
    void Relisten();
    void PauseAccepting();
    QTimer& Timer();
    // Notifiers are deleted later while one of them may be emitting.
    void Discard(QSocketNotifier* notifier);

    int listenFd = -1;
    int port = 0;
    ReadHandler onRead;
    QSocketNotifier* acceptNotifier = nullptr;
    std::map<int, QSocketNotifier*> clients;  // every open cashier connection
    std::unique_ptr<QTimer> timer;            // accept pause and relisten retry
    int dispatching = 0;
};

SocketHelper::Impl::~Impl() {
    CloseClients();
    CloseListening();
}

SocketHelper::Impl::BindResult SocketHelper::Impl::Bind(int newPort) {
    in_addr address{};
    if (newPort < 1 || newPort > 65535 || !ListenAddress(address)) {
        return BindResult::BindFailed;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return BindResult::CreateFailed;
    }
    // Set before bind: a restart binds over connections left in TIME_WAIT,
    // while a port that another program listens on is still refused.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(static_cast<uint16_t>(newPort));
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        CloseFd(fd);
        return BindResult::BindFailed;
    }
    listenFd = fd;
    port = newPort;
    return BindResult::Bound;
}

bool SocketHelper::Impl::Listen() {
    if (listenFd < 0 || ::listen(listenFd, SOMAXCONN) != 0) {
        return false;
    }
    // Non-blocking, so that a connection that goes away between the event and
    // the accept cannot block the main thread.
    const int flags = ::fcntl(listenFd, F_GETFL);
    ::fcntl(listenFd, F_SETFL, flags | O_NONBLOCK);
    acceptNotifier = new QSocketNotifier(listenFd, QSocketNotifier::Read);
    QObject::connect(acceptNotifier, &QSocketNotifier::activated,
                     [this](QSocketDescriptor, QSocketNotifier::Type) { OnAcceptReady(); });
    return true;
}

void SocketHelper::Impl::Discard(QSocketNotifier* notifier) {
    if (notifier == nullptr) {
        return;
    }
    notifier->setEnabled(false);
    if (dispatching > 0) {
        notifier->deleteLater();
    } else {
        delete notifier;
    }
}

void SocketHelper::Impl::CloseListening() {
    if (timer) {
        timer->stop();
    }
    Discard(acceptNotifier);
    acceptNotifier = nullptr;
    if (listenFd >= 0) {
        CloseFd(listenFd);
        listenFd = -1;
    }
}

void SocketHelper::Impl::CloseClient(int fd) {
    const auto it = clients.find(fd);
    if (it == clients.end()) {
        return;  // already closed: the handle may belong to someone else by now
    }
    Discard(it->second);
    clients.erase(it);
    CloseFd(fd);
}

void SocketHelper::Impl::CloseClients() {
    while (!clients.empty()) {
        CloseClient(clients.begin()->first);
    }
}

QTimer& SocketHelper::Impl::Timer() {
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
    }
    return *timer;
}

void SocketHelper::Impl::PauseAccepting() {
    acceptNotifier->setEnabled(false);
    QTimer& t = Timer();
    t.disconnect();
    QObject::connect(&t, &QTimer::timeout, [this] {
        if (acceptNotifier != nullptr) {
            acceptNotifier->setEnabled(true);
        }
    });
    t.start(kAcceptPauseMs);
}

void SocketHelper::Impl::OnAcceptReady() {
    ++dispatching;
    for (int i = 0; i < kAcceptBurst && listenFd >= 0; ++i) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kReplyBufferBytes, sizeof(kReplyBufferBytes));
            auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
            QObject::connect(
                notifier, &QSocketNotifier::activated,
                [this, fd](QSocketDescriptor, QSocketNotifier::Type) { OnClientReady(fd); });
            clients.emplace(fd, notifier);
            continue;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == EAGAIN || err == EWOULDBLOCK) {
            // Nothing pending. A woken socket with nothing to accept may be one
            // that has failed; an error there would otherwise go unnoticed.
            pollfd p{listenFd, POLLIN, 0};
            if (i == 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                ListeningFailed();
            }
            break;
        }
        LogHelper::GetInstance()->Debug("LISTEN SOCKET调用Accept()失败.");
        if (IsOutOfDescriptors(err)) {
            PauseAccepting();
            break;
        }
        if (!IsTransientAcceptError(err)) {
            ListeningFailed();
            break;
        }
    }
    --dispatching;
}

void SocketHelper::Impl::ListeningFailed() {
    // Closing the port for good would leave the cashier side unheard for the
    // rest of the run without anyone noticing; listen again on the same port.
    LogHelper::GetInstance()->Error("LISTEN SOCKET出错，重新监听端口 " + std::to_string(port));
    CloseListening();
    Relisten();
    if (listenFd < 0) {
        LogHelper::GetInstance()->Error("重新监听端口 " + std::to_string(port) +
                                        " 失败，稍后重试.");
    }
}

void SocketHelper::Impl::Relisten() {
    if (Bind(port) == BindResult::Bound && Listen()) {
        return;
    }
    CloseListening();
    QTimer& t = Timer();
    t.disconnect();
    QObject::connect(&t, &QTimer::timeout, [this] {
        if (listenFd < 0 && onRead) {
            Relisten();
        }
    });
    t.start(kRelistenRetryMs);
}

void SocketHelper::Impl::OnClientReady(int fd) {
    if (clients.find(fd) == clients.end()) {
        return;
    }
    ++dispatching;
    bool keep = false;
    try {
        keep = onRead && onRead(fd);
    } catch (...) {
        // The reader catches its own failures; this is the last guard of the loop.
        LogHelper::GetInstance()->Error("发生异常 SocketHelper::OnSocketRead");
        keep = false;
    }
    if (!keep) {
        CloseClient(fd);
    }
    --dispatching;
}

SocketHelper* SocketHelper::GetInstance() {
    return s_slot.GetOrCreate([]() -> SocketHelper* {
        try {
            return new SocketHelper();
        } catch (...) {
            LogHelper::GetInstance()->Error("发生异常 SocketHelper::GetInstance.");
            return nullptr;
        }
    });
}

SocketHelper* SocketHelper::Peek() {
    return s_slot.Peek();
}

void SocketHelper::Destroy() {
    s_slot.Destroy();
}

SocketHelper::SocketHelper() : m_impl(std::make_unique<Impl>()) {}

SocketHelper::~SocketHelper() = default;

bool SocketHelper::BindPort(int port, std::wstring& error) {
    AssertMainThread();
    // A second login attempt binds the same port again: the socket of the
    // first attempt is let go first, or the bind would find the port taken.
    m_impl->CloseListening();
    m_impl->port = 0;
    switch (m_impl->Bind(port)) {
        case Impl::BindResult::Bound:
            return true;
        case Impl::BindResult::CreateFailed:
            error = kCreateFailed;
            return false;
        case Impl::BindResult::BindFailed:
            break;
    }
    // Also for a port outside 1..65535 or an unusable configured address:
    // either way the user has to choose another port.
    error = kPortTaken;
    return false;
}

bool SocketHelper::StartListening(ReadHandler onRead) {
    AssertMainThread();
    if (!onRead || m_impl->listenFd < 0) {
        return false;
    }
    m_impl->onRead = std::move(onRead);
    if (m_impl->acceptNotifier != nullptr) {
        return true;  // already listening; only the reader changed
    }
    if (!m_impl->Listen()) {
        m_impl->CloseListening();
        m_impl->port = 0;
        return false;
    }
    return true;
}

void SocketHelper::StopListening() {
    AssertMainThread();
    m_impl->CloseListening();
    m_impl->CloseClients();
    m_impl->port = 0;
    m_impl->onRead = nullptr;
}

bool SocketHelper::IsListening() const {
    return m_impl->listenFd >= 0 && m_impl->acceptNotifier != nullptr;
}

int SocketHelper::BoundPort() const {
    return m_impl->listenFd >= 0 ? m_impl->port : 0;
}
