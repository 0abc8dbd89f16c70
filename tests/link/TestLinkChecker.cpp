#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/LinkChecker.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "support/StalledListener.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

namespace {

// Far beyond any limit of the code under test: only guards against a hang.
const auto kHangGuard = std::chrono::seconds(60);

// A loopback TCP socket bound to a free port, listening or not.
class LoopbackSocket {
public:
    explicit LoopbackSocket(bool listening) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            (!listening || ::listen(m_fd, 16) == 0) &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~LoopbackSocket() { Close(); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    uint16_t Port() const { return m_port; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// The cashier simulator (tools/cashier_sim.py) listening as the cashier side's
// address: it accepts each probe and prints a line for it.
class CashierSimulator {
public:
    explicit CashierSimulator(const TempProgramDir& dir) : m_output(dir.File("cashier.out")) {
        SpawnedProcess::Options options;
        options.stdoutPath = m_output;
        // The simulator wants a port of its own choosing; take one that was free.
        const int port = FreeLoopbackPort();
        if (!m_process.Start({"python3", VOICE_SOURCE_DIR "/tools/cashier_sim.py", "--listen",
                              "--port", std::to_string(port)},
                             options)) {
            return;
        }
        // It prints "listening on 127.0.0.1:PORT" once it listens.
        for (int i = 0; i < 600 && m_port == 0 && m_process.Alive(); ++i) {
            if (Output().find("listening on") != std::string::npos) {
                m_port = port;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
    }
    uint16_t Port() const { return static_cast<uint16_t>(m_port); }
    void Stop() { m_process.Stop(); }
    bool WaitForOutput(const std::string& part) const {
        for (int i = 0; i < 600; ++i) {
            if (Output().find(part) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    std::string Output() const {
        std::ifstream file(m_output, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

private:
    std::string m_output;
    SpawnedProcess m_process;
    int m_port = 0;
};

// The reports of a LinkChecker, as they arrive on its thread.
class Reports {
public:
    LinkChecker::Report Sink() {
        return [this](bool reachable) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_values.push_back(reachable);
            m_changed.notify_all();
        };
    }
    // Waits for a report of `value` after the first `skip` ones.
    bool WaitFor(bool value, size_t skip = 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kHangGuard, [&] {
            for (size_t i = skip; i < m_values.size(); ++i) {
                if (m_values[i] == value) {
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<bool> Values() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<bool> m_values;
};

class LinkCheckTest : public ::testing::Test {
protected:
    std::string LogText() const {
        std::string text;
        const fs::path folder = m_dir.File("log");
        if (fs::exists(folder)) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                std::ifstream file(entry.path(), std::ios::binary);
                std::ostringstream content;
                content << file.rdbuf();
                text += content.str();
            }
        }
        return text;
    }

    TempProgramDir m_dir;
};

struct ConnectCase {
    const char* name;
    const char* address;  // "" for the empty address
    int target;           // 0 listening port, 1 closed port, else the port itself
    const char* logLine;  // "" when nothing is logged
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const ConnectCase& c, std::ostream* os) {
    *os << c.name;
}

class ConnectCases : public LinkCheckTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectCases, FailWithTheirLogLine) {
    const ConnectCase& c = GetParam();
    LoopbackSocket closed(false);
    const uint32_t port = c.target == 1 ? closed.Port() : static_cast<uint32_t>(c.target);
    ASSERT_NE(port, 0u);
    EXPECT_FALSE(ConnectWithTimeout(c.address, port));
    EXPECT_FALSE(ProbeLink(c.address, port));
    const std::string log = LogText();
    if (*c.logLine == '\0') {
        EXPECT_EQ(log, "");
    } else {
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ConnectCases,
    ::testing::Values(
        // Linux refuses a loopback connect at once; the pending error is ECONNREFUSED.
        ConnectCase{"refused", "127.0.0.1", 1, "connect出错，errorid: 111"},
        // No name is resolved: a host name names no address.
        ConnectCase{"host_name", "localhost", 1, "connect出错，errorid: 99"},
        ConnectCase{"short_form_address", "127.1", 1, "connect出错，errorid: 99"},
        ConnectCase{"port_beyond_16_bits", "127.0.0.1", 65536 + 22, "connect出错，errorid: 99"},
        ConnectCase{"empty_address", "", 1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkCheckTest, ConnectSucceedsAgainstAListenerWithoutLogging) {
    LoopbackSocket listener(true);
    ASSERT_NE(listener.Port(), 0);
    EXPECT_TRUE(ConnectWithTimeout("127.0.0.1", listener.Port()));
    EXPECT_TRUE(ProbeLink("127.0.0.1", listener.Port()));
    EXPECT_EQ(LogText(), "");
}

TEST_F(LinkCheckTest, ConnectGivesUpOnAHostThatNeverAnswers) {
    StalledListener stalled;
    if (!stalled.Ready()) {
        GTEST_SKIP() << "this kernel completes every loopback handshake";
    }
    auto call = std::async(std::launch::async,
                           [&] { return ConnectWithTimeout("127.0.0.1", stalled.Port()); });
    ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(call.get());
    EXPECT_NE(LogText().find("select错误或者超时，errorid: 110"), std::string::npos);
}

TEST_F(LinkCheckTest, ReportsFollowTheCashierSide) {
    CashierSimulator cashier(m_dir);
    ASSERT_NE(cashier.Port(), 0) << cashier.Output();
    Reports reports;
    LinkChecker checker;
    checker.SetPause(std::chrono::milliseconds(20));
    ASSERT_TRUE(checker.Start("127.0.0.1", cashier.Port(), reports.Sink()));
    ASSERT_TRUE(reports.WaitFor(true));
    // The probe really reached the simulator (it prints each one it accepts).
    ASSERT_TRUE(cashier.WaitForOutput("probe from 127.0.0.1:"));
    // The cashier side goes away: a later probe reports it.
    const size_t seen = reports.Values().size();
    cashier.Stop();
    ASSERT_TRUE(reports.WaitFor(false, seen));
    checker.Stop();
    EXPECT_NE(LogText().find("connect出错，errorid: 111"), std::string::npos);
}

TEST_F(LinkCheckTest, StopDoesNotWaitOutThePause) {
    LoopbackSocket listener(true);
    Reports reports;
    auto checker = std::make_unique<LinkChecker>();
    checker->SetPause(std::chrono::hours(1));
    ASSERT_TRUE(checker->Start("127.0.0.1", listener.Port(), reports.Sink()));
    ASSERT_TRUE(reports.WaitFor(true));
    auto stop = std::async(std::launch::async, [&] { checker.reset(); });
    ASSERT_EQ(stop.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(reports.Values(), std::vector<bool>{true});
}

TEST_F(LinkCheckTest, StopCutsAProbeInProgressShort) {
    StalledListener stalled;
    if (!stalled.Ready()) {
        GTEST_SKIP() << "this kernel completes every loopback handshake";
    }
    Reports reports;
    LinkChecker checker;
    checker.SetPause(std::chrono::hours(1));
    ASSERT_TRUE(checker.Start("127.0.0.1", stalled.Port(), reports.Sink()));
    auto stop = std::async(std::launch::async, [&] { checker.Stop(); });
    ASSERT_EQ(stop.wait_for(kHangGuard), std::future_status::ready);
}

TEST_F(LinkCheckTest, StartRefusesBadTargetsAndASecondStart) {
    LoopbackSocket listener(true);
    Reports reports;
    LinkChecker checker;
    EXPECT_FALSE(checker.Start("", listener.Port(), reports.Sink()));
    EXPECT_FALSE(checker.Start("127.0.0.1", 0, reports.Sink()));
    checker.SetPause(std::chrono::hours(1));
    ASSERT_TRUE(checker.Start("127.0.0.1", listener.Port(), reports.Sink()));
    EXPECT_FALSE(checker.Start("127.0.0.1", listener.Port(), reports.Sink()));
    ASSERT_TRUE(reports.WaitFor(true));
    checker.Stop();
    // Stopped, it can run again.
    ASSERT_TRUE(checker.Start("127.0.0.1", listener.Port(), reports.Sink()));
    ASSERT_TRUE(reports.WaitFor(true, 1));
    checker.Stop();
}

}  // namespace
