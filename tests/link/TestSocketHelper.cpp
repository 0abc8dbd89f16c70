#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "link/CashierMessage.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "support/LoopbackPeers.h"
#include "support/QtPump.h"
#include "support/TempProgramDir.h"

namespace {

using namespace std::string_literals;

const char* const kAcceptFailed = "LISTEN SOCKET调用Accept()失败.";
const std::wstring kPortTaken = L"端口被占用，请更换其它端口。";
const CashierMessage kWaiter12 = {CashierMessage::Form::Comma, "12", "", "101"};

// One cashier connection as the test drives it.
class Cashier {
public:
    explicit Cashier(int port) : m_fd(ConnectLoopback(port)) {}
    ~Cashier() { Close(); }
    Cashier(const Cashier&) = delete;
    Cashier& operator=(const Cashier&) = delete;

    bool Connected() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    bool Send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Takes whatever has arrived; notes when the program closed its end.
    void Poll() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n > 0) {
                m_received.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                m_closedByPeer = true;
            }
            return;
        }
    }
    // Sends and waits for the number of replies so far to reach `replies`.
    bool Exchange(const std::string& bytes, size_t replies) {
        return Send(bytes) && PumpUntil([&] {
                   Poll();
                   return m_received.size() >= 2 * replies || m_closedByPeer;
               }) &&
               m_received.size() == 2 * replies;
    }
    bool AwaitClosedByPeer() {
        return PumpUntil([&] {
            Poll();
            return m_closedByPeer;
        });
    }
    const std::string& Received() const { return m_received; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd;
    std::string m_received;
    bool m_closedByPeer = false;
};

class SocketHelperTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ::signal(SIGPIPE, SIG_IGN);
        // Tests keep the port on the loopback interface.
        ::setenv("VOICE_LISTEN_ADDRESS", "127.0.0.1", 1);
        TestApplication();
    }

    void SetUp() override { m_baseline = CountOpenSockets(); }
    void TearDown() override { SocketHelper::Destroy(); }

    // Binds a port that was free; another test run may take one in between.
    int BindFreePort() {
        std::wstring error;
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int port = FreeLoopbackPort();
            if (SocketHelper::GetInstance()->BindPort(port, error)) {
                return port;
            }
        }
        ADD_FAILURE() << "no port could be bound";
        return 0;
    }
    int Listen() {
        const int port = BindFreePort();
        EXPECT_TRUE(SocketHelper::GetInstance()->StartListening(
            [this](int fd) { return m_reader.OnSocketRead(fd); }));
        return port;
    }
    std::string Log() const { return ReadProgramLogs(m_dir.Dir()); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

    TempProgramDir m_dir;
    // Every message the reader handed on, as it cut it.
    std::vector<CashierMessage> m_queued;
    MessageReader m_reader{[this](const CashierMessage& m) { m_queued.push_back(m); }};
    int m_baseline = 0;
};

TEST_F(SocketHelperTest, AnswersTwoConnectionsAtOnce) {
    const int port = Listen();
    Cashier a(port), b(port);
    ASSERT_TRUE(a.Connected() && b.Connected());
    ASSERT_TRUE(b.Exchange("13,102", 1));
    ASSERT_TRUE(a.Exchange("12,101", 1));
    ASSERT_TRUE(b.Exchange("14,103", 2));
    EXPECT_EQ(a.Received(), "OK");
    EXPECT_EQ(b.Received(), "OKOK");
    ASSERT_EQ(m_queued.size(), 3u);
    EXPECT_EQ(m_queued[1], kWaiter12);
}

TEST_F(SocketHelperTest, LongTransmissionIsReadAsMessagesOf512Bytes) {
    const int port = Listen();
    Cashier c(port);
    std::string first = "12,101";
    first.resize(512, '\0');
    std::string second = "13,102";
    second.resize(88, '\0');
    ASSERT_TRUE(c.Exchange(first + second, 2));
    EXPECT_EQ(c.Received(), "OKOK");
    ASSERT_EQ(m_queued.size(), 2u);
    EXPECT_EQ(m_queued[0], kWaiter12);
    EXPECT_EQ(m_queued[1], (CashierMessage{CashierMessage::Form::Comma, "13", "", "102"}));
}

TEST_F(SocketHelperTest, ZeroByteEndsTheText) {
    const int port = Listen();
    Cashier c(port);
    ASSERT_TRUE(c.Exchange("12,101\0xyz"s, 1));
    ASSERT_EQ(m_queued.size(), 1u);
    EXPECT_EQ(m_queued[0], kWaiter12);
}

TEST_F(SocketHelperTest, LineEndMakesAnotherCodeAndKeepsTheConnection) {
    const int port = Listen();
    Cashier c(port);
    ASSERT_TRUE(c.Exchange("12,101\r\n", 1));
    ASSERT_TRUE(c.Exchange("12,101", 2));
    // Handed on as it came: code "101\r\n" is no product to the composer.
    EXPECT_EQ(m_queued, (std::vector<CashierMessage>{
                            {CashierMessage::Form::Comma, "12", "", "101\r\n"}, kWaiter12}));
}

TEST_F(SocketHelperTest, AnyBytesAreAnsweredAndLeaveTheConnectionOpen) {
    const int port = Listen();
    Cashier c(port);
    std::string everyByte;
    for (int b = 255; b >= 0; --b) {
        everyByte += static_cast<char>(b);
    }
    const std::vector<std::string> texts = {everyByte, "%s%n%x%%",     ",,,,",
                                            "#.#.#",   "\xff\xfe,101", std::string(511, ','),
                                            "1.%n#5",  "\r\n"};
    size_t replies = 0;
    for (const auto& text : texts) {
        ASSERT_TRUE(c.Exchange(text, ++replies)) << text;
    }
    EXPECT_EQ(std::count(m_queued.begin(), m_queued.end(), kWaiter12), 0);
    ASSERT_TRUE(c.Exchange("12,101", ++replies));
    EXPECT_EQ(m_queued.back(), kWaiter12);
}

TEST_F(SocketHelperTest, DebugLogsTheTextAsItIs) {
    IniHelper::GetInstance()->Settings().debug = true;
    const int port = Listen();
    Cashier c(port);
    ASSERT_TRUE(c.Exchange("50%,%s%n", 1));
    EXPECT_TRUE(LogHas(":50%,%s%n\n")) << Log();
}

TEST_F(SocketHelperTest, PeerClosingClosesOurEndOnly) {
    IniHelper::GetInstance()->Settings().debug = true;
    const int port = Listen();
    {
        Cashier c(port);
        ASSERT_TRUE(c.Exchange("12,101", 1));
        ::shutdown(c.Fd(), SHUT_WR);
        EXPECT_TRUE(c.AwaitClosedByPeer());
    }
    EXPECT_TRUE(LogHas("OnSocketRead调用recv()失败."));
    EXPECT_TRUE(PumpUntil([&] { return CountOpenSockets() == m_baseline + 1; }));
    Cashier next(port);
    EXPECT_TRUE(next.Exchange("12,101", 1));
}

TEST_F(SocketHelperTest, PeerResetClosesOurEndOnly) {
    const int port = Listen();
    {
        Cashier c(port);
        ASSERT_TRUE(c.Exchange("12,101", 1));
        const linger reset{1, 0};
        ::setsockopt(c.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    }
    EXPECT_TRUE(PumpUntil([&] { return CountOpenSockets() == m_baseline + 1; }));
    EXPECT_TRUE(SocketHelper::GetInstance()->IsListening());
    Cashier next(port);
    EXPECT_TRUE(next.Exchange("12,101", 1));
}

// A peer that sends without ever reading its replies jams its own connection;
// the main thread must go on serving everyone else meanwhile.
TEST_F(SocketHelperTest, PeerThatNeverReadsDoesNotStallOthers) {
    const int port = Listen();
    const int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    // A fixed receive buffer, so the kernel does not grow it for replies that
    // nobody reads.
    const int buffer = 65536;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const std::string chunk(512, 'x');
    bool jammed = false;
    EXPECT_TRUE(PumpUntil([&] {
        for (int i = 0; i < 4 && !jammed; ++i) {
            jammed = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0;
        }
        return jammed;
    }));
    Cashier other(port);
    EXPECT_TRUE(other.Exchange("12,101", 1));
    EXPECT_TRUE(other.Exchange("12,101", 2));
    ::close(fd);
}

// Answers "OK" to each text and says whether the connection stays: "bye" asks
// for it to be closed, from inside its own read handler.
bool AnswerUntilBye(int fd, const std::string& bye) {
    char buffer[64];
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) {
        return false;
    }
    ::send(fd, "OK", 2, MSG_NOSIGNAL | MSG_DONTWAIT);
    return std::string(buffer, static_cast<size_t>(n)) != bye;
}

// Each closed connection's number is free again at once, so the next cashier
// usually gets the number of the one just closed, while its notifier still
// waits to be freed.
TEST_F(SocketHelperTest, ConnectionsClosedByTheirOwnHandlerGoWhileOthersAreServed) {
    const int port = BindFreePort();
    ASSERT_TRUE(SocketHelper::GetInstance()->StartListening(
        [](int fd) { return AnswerUntilBye(fd, "bye"); }));
    Cashier stays(port);
    ASSERT_TRUE(stays.Exchange("12,101", 1));
    for (size_t round = 1; round <= 20; ++round) {
        Cashier leaves(port);
        ASSERT_TRUE(leaves.Exchange("12,101", 1)) << round;
        ASSERT_TRUE(leaves.Exchange("bye", 2)) << round;
        EXPECT_TRUE(leaves.AwaitClosedByPeer()) << round;
        ASSERT_TRUE(stays.Exchange("12,101", round + 1)) << round;
    }
    // The listening socket and both ends of `stays`.
    EXPECT_TRUE(PumpUntil([&] { return CountOpenSockets() == m_baseline + 3; }));
}

// The handler is cleared while it runs; what it holds must last until it returns.
TEST_F(SocketHelperTest, AHandlerThatStopsListeningClosesEveryConnection) {
    const int port = BindFreePort();
    const std::string stop = "stop";
    ASSERT_TRUE(SocketHelper::GetInstance()->StartListening([stop](int fd) {
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == stop) {
            SocketHelper::GetInstance()->StopListening();
            // Its connection is gone already: keeping it must change nothing.
            return !stop.empty();
        }
        return n > 0 && ::send(fd, "OK", 2, MSG_NOSIGNAL | MSG_DONTWAIT) == 2;
    }));
    Cashier other(port), stopper(port);
    ASSERT_TRUE(other.Exchange("12,101", 1));
    ASSERT_TRUE(stopper.Send(stop));
    EXPECT_TRUE(stopper.AwaitClosedByPeer());
    EXPECT_TRUE(other.AwaitClosedByPeer());
    EXPECT_EQ(stopper.Received(), "");
    EXPECT_FALSE(SocketHelper::GetInstance()->IsListening());
    EXPECT_EQ(CountOpenSockets(), m_baseline + 2);  // the test's own ends
    const int again = Listen();
    Cashier next(again);
    EXPECT_TRUE(next.Exchange("12,101", 1));
}

TEST_F(SocketHelperTest, PortTakenIsRefusedAndLeavesNoSocket) {
    const int port = FreeLoopbackPort();
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(holder, 4), 0);
    const int before = CountOpenSockets();
    std::wstring error;
    EXPECT_FALSE(SocketHelper::GetInstance()->BindPort(port, error));
    EXPECT_EQ(error, kPortTaken);
    EXPECT_EQ(CountOpenSockets(), before);
    EXPECT_EQ(SocketHelper::GetInstance()->BoundPort(), 0);
    EXPECT_FALSE(SocketHelper::GetInstance()->StartListening([](int) { return true; }));
    ::close(holder);
}

TEST_F(SocketHelperTest, PortsOutsideTheRangeAreRefused) {
    for (const int port : {0, -1, 65536, 70000}) {
        std::wstring error;
        EXPECT_FALSE(SocketHelper::GetInstance()->BindPort(port, error)) << port;
        EXPECT_EQ(error, kPortTaken) << port;
    }
    EXPECT_EQ(CountOpenSockets(), m_baseline);
}

TEST_F(SocketHelperTest, SecondBindOfTheSamePortReplacesTheFirst) {
    const int port = BindFreePort();
    std::wstring error;
    ASSERT_TRUE(SocketHelper::GetInstance()->BindPort(port, error));
    EXPECT_EQ(CountOpenSockets(), m_baseline + 1);
    ASSERT_TRUE(SocketHelper::GetInstance()->StartListening(
        [this](int fd) { return m_reader.OnSocketRead(fd); }));
    EXPECT_EQ(SocketHelper::GetInstance()->BoundPort(), port);
    Cashier c(port);
    EXPECT_TRUE(c.Exchange("12,101", 1));
}

TEST_F(SocketHelperTest, StopListeningClosesTheConnectionsAndThePort) {
    const int port = Listen();
    Cashier c(port);
    ASSERT_TRUE(c.Exchange("12,101", 1));
    SocketHelper::GetInstance()->StopListening();
    EXPECT_FALSE(SocketHelper::GetInstance()->IsListening());
    EXPECT_EQ(SocketHelper::GetInstance()->BoundPort(), 0);
    EXPECT_TRUE(c.AwaitClosedByPeer());
    EXPECT_FALSE(Cashier(port).Connected());
    EXPECT_EQ(CountOpenSockets(), m_baseline + 1);  // the test's own end of c
}

TEST_F(SocketHelperTest, DestroyClosesEverything) {
    const int port = Listen();
    Cashier c(port);
    ASSERT_TRUE(c.Exchange("12,101", 1));
    SocketHelper::Destroy();
    EXPECT_TRUE(c.AwaitClosedByPeer());
    EXPECT_FALSE(Cashier(port).Connected());
}

std::string ReadAll(int fd) {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::pread(fd, buffer, sizeof(buffer), static_cast<off_t>(all.size()))) > 0) {
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

// The listening descriptor, found the way any outsider would see it.
int FindListeningSocket(int port) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        int accepting = 0;
        socklen_t size = sizeof(accepting);
        sockaddr_in address{};
        socklen_t length = sizeof(address);
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ntohs(address.sin_port) == port) {
            return fd;
        }
    }
    return -1;
}

TEST_F(SocketHelperTest, FailedListeningSocketListensAgainOnTheSamePort) {
    const int port = Listen();
    Cashier before(port);
    ASSERT_TRUE(before.Exchange("12,101", 1));
    const int fd = FindListeningSocket(port);
    ASSERT_GE(fd, 0);
    // Knocks the socket out of the listening state, as a failing network would.
    ASSERT_EQ(::shutdown(fd, SHUT_RD), 0);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("LISTEN SOCKET出错"); })) << Log();
    ASSERT_TRUE(PumpUntil([&] { return SocketHelper::GetInstance()->IsListening(); }));
    Cashier after(port);
    ASSERT_TRUE(after.Connected());
    EXPECT_TRUE(after.Exchange("12,101", 1));
    EXPECT_TRUE(before.Exchange("12,101", 2));  // connections already open stay open
    const std::string log = Log();
    EXPECT_EQ(log.find("LISTEN SOCKET出错"), log.rfind("LISTEN SOCKET出错")) << log;
}

// With no descriptor left, accepting waits instead of failing over and over;
// once descriptors are free again, the waiting connection is served.
TEST_F(SocketHelperTest, AcceptResumesWhenDescriptorsAreFreeAgain) {
    IniHelper::GetInstance()->Settings().debug = true;
    const int port = Listen();
    // The log is read through a descriptor opened while there still are some.
    LogHelper::GetInstance()->Info("descriptors run out next");
    std::string logPath;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.File("log"))) {
        logPath = entry.path();
    }
    const int logFd = ::open(logPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(logFd, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.push_back(fd);
        if (fd >= 4096) {
            break;
        }
    }
    ASSERT_GE(fillers.size(), 1u);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(fillers.back() + 1);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.push_back(fd);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::send(client, "12,101", 6, MSG_NOSIGNAL) == 6;
    const bool refused =
        PumpUntil([&] { return ReadAll(logFd).find(kAcceptFailed) != std::string::npos; });
    for (const int fd : fillers) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(connected);
    EXPECT_TRUE(refused) << Log();
    std::string reply;
    EXPECT_TRUE(PumpUntil([&] {
        char buffer[8];
        const ssize_t n = ::recv(client, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0) {
            reply.append(buffer, static_cast<size_t>(n));
        }
        return reply.size() >= 2 || n == 0;
    }));
    EXPECT_EQ(reply, "OK");
    EXPECT_EQ(m_queued, std::vector<CashierMessage>{kWaiter12});
    ::close(client);
    ::close(logFd);
}

}  // namespace
