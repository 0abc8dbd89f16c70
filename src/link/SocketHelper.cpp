#include "link/SocketHelper.h"

#include <QObject>
#include <QTimer>
#include <string>

#include "app/LogHelper.h"
#include "app/MainThread.h"
#include "app/SingletonSlot.h"
#include "link/AcceptPolicy.h"
#include "link/ConnectionTable.h"
#include "link/ListeningSocket.h"
#include "link/SocketLibrary.h"

namespace {

SingletonSlot<SocketHelper> s_slot;

const wchar_t* const kLibraryFailed = L"初始化SOCKET库出错。";
const wchar_t* const kCreateFailed = L"创建监听SOCKET出错。";
const wchar_t* const kPortTaken = L"端口被占用，请更换其它端口。";

// Pause between attempts to listen again after the listening socket failed.
const int kRelistenRetryMs = 1000;

}  // namespace

// The pieces, all owned here: the listening socket with the policy that
// accepts on it (the two go together), and the table of connections.
struct SocketHelper::Impl {
    Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    ListeningSocket::BindResult Bind(int port);
    bool Listen();
    void CloseListening();
    void ListeningFailed();
    void Relisten();

    // Declared first so that it goes last, after every socket it serves.
    SocketLibrary library;
    // Declared next so that it goes after the rest: the parent of every notifier,
    // which frees those still waiting for their deferred delete.
    QObject notifierParent;
    QTimer relisten;  // the retry after listening again has failed
    int port = 0;
    std::unique_ptr<ListeningSocket> listening;  // from BindPort to StopListening
    std::unique_ptr<AcceptPolicy> accepting;     // while listening; uses `listening`
    ConnectionTable connections{notifierParent};
};

SocketHelper::Impl::Impl() {
    relisten.setSingleShot(true);
    QObject::connect(&relisten, &QTimer::timeout, [this] {
        if (!listening && connections.HasReader()) {
            Relisten();
        }
    });
}

ListeningSocket::BindResult SocketHelper::Impl::Bind(int newPort) {
    auto socket = std::make_unique<ListeningSocket>();
    const ListeningSocket::BindResult result = socket->Bind(newPort);
    if (result == ListeningSocket::BindResult::Bound) {
        listening = std::move(socket);
        port = newPort;
    }
    return result;
}

bool SocketHelper::Impl::Listen() {
    if (!listening) {
        return false;
    }
    auto policy = std::make_unique<AcceptPolicy>(
        *listening, [this](Socket connection) { connections.Add(std::move(connection)); });
    const bool listens = listening->Listen(notifierParent, [this, policy = policy.get()] {
        // Last, since it replaces the listening socket and this policy.
        if (policy->OnReady() == AcceptPolicy::Outcome::ListeningFailed) {
            ListeningFailed();
        }
    });
    if (listens) {
        accepting = std::move(policy);
    }
    return listens;
}

void SocketHelper::Impl::CloseListening() {
    relisten.stop();
    accepting.reset();
    listening.reset();
}

void SocketHelper::Impl::ListeningFailed() {
    // Closing the port for good would leave the cashier side unheard for the
    // rest of the run without anyone noticing; listen again on the same port.
    LogHelper::GetInstance()->Error("LISTEN SOCKET出错，重新监听端口 " + std::to_string(port));
    CloseListening();
    Relisten();
    if (!listening) {
        LogHelper::GetInstance()->Error("重新监听端口 " + std::to_string(port) +
                                        " 失败，稍后重试.");
    }
}

void SocketHelper::Impl::Relisten() {
    if (Bind(port) == ListeningSocket::BindResult::Bound && Listen()) {
        return;
    }
    CloseListening();
    relisten.start(kRelistenRetryMs);
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
    if (!m_impl->library.Started()) {
        error = kLibraryFailed;
        return false;
    }
    switch (m_impl->Bind(port)) {
        case ListeningSocket::BindResult::Bound:
            return true;
        case ListeningSocket::BindResult::CreateFailed:
            error = kCreateFailed;
            return false;
        case ListeningSocket::BindResult::BindFailed:
            break;
    }
    // Also for a port outside 1..65535 or an unusable configured address:
    // either way the user has to choose another port.
    error = kPortTaken;
    return false;
}

bool SocketHelper::StartListening(ReadHandler onRead) {
    AssertMainThread();
    if (!onRead || !m_impl->listening) {
        return false;
    }
    m_impl->connections.SetReader(std::move(onRead));
    if (m_impl->accepting) {
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
    m_impl->connections.CloseAll();
    m_impl->port = 0;
    m_impl->connections.SetReader(nullptr);
}

bool SocketHelper::IsListening() const {
    return m_impl->accepting != nullptr;
}

int SocketHelper::BoundPort() const {
    return m_impl->listening ? m_impl->port : 0;
}
