#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/IniHelper.h"
#include "link/CashierMessage.h"
#include "link/MessageReader.h"
#include "support/LoopbackPeers.h"
#include "support/TempProgramDir.h"

namespace {

// The reader over one end of a connected socket pair; the test plays the
// cashier on the other end.
class MessageReaderTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ::signal(SIGPIPE, SIG_IGN); }

    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        m_ours = fds[0];
        m_cashier = fds[1];
    }
    void TearDown() override {
        ::close(m_ours);
        if (m_cashier >= 0) {
            ::close(m_cashier);
        }
    }

    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(m_cashier, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string Replies() {
        std::string all;
        char buffer[64];
        ssize_t n;
        while ((n = ::recv(m_cashier, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
            all.append(buffer, static_cast<size_t>(n));
        }
        return all;
    }
    bool LogHas(const std::string& text) const {
        return ReadProgramLogs(m_dir.Dir()).find(text) != std::string::npos;
    }

    TempProgramDir m_dir;
    // Every message the reader handed on; `m_onMessage` sees each one first.
    std::vector<CashierMessage> m_received;
    std::function<void(const CashierMessage&)> m_onMessage;
    MessageReader m_reader{[this](const CashierMessage& m) {
        if (m_onMessage) {
            m_onMessage(m);
        }
        m_received.push_back(m);
    }};
    int m_ours = -1;
    int m_cashier = -1;
};

TEST_F(MessageReaderTest, RepliesBeforeComposing) {
    std::string seenByCashier;
    m_onMessage = [&](const CashierMessage&) { seenByCashier = Replies(); };
    Send("12,101");
    EXPECT_TRUE(m_reader.OnSocketRead(m_ours));
    EXPECT_EQ(seenByCashier, "OK");
    const CashierMessage waiter12{CashierMessage::Form::Comma, "12", "", "101"};
    EXPECT_EQ(m_received, std::vector<CashierMessage>{waiter12});
}

class PeerGoneTest : public MessageReaderTest, public testing::WithParamInterface<bool> {};

TEST_P(PeerGoneTest, ClosesTheConnectionAndLogsOnlyWithDebug) {
    IniHelper::GetInstance()->Settings().debug = GetParam();
    ::close(m_cashier);
    m_cashier = -1;
    EXPECT_FALSE(m_reader.OnSocketRead(m_ours));
    EXPECT_EQ(LogHas("OnSocketRead调用recv()失败."), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Debug, PeerGoneTest, testing::Bool());

TEST_F(MessageReaderTest, WokenWithoutDataKeepsTheConnection) {
    ::fcntl(m_ours, F_SETFL, ::fcntl(m_ours, F_GETFL) | O_NONBLOCK);
    EXPECT_TRUE(m_reader.OnSocketRead(m_ours));
    EXPECT_EQ(Replies(), "");
}

TEST_F(MessageReaderTest, FailureWhileComposingIsLoggedAndTheConnectionKept) {
    m_onMessage = [](const CashierMessage&) { throw std::runtime_error("out of luck"); };
    Send("12,101");
    EXPECT_TRUE(m_reader.OnSocketRead(m_ours));
    EXPECT_EQ(Replies(), "OK");
    EXPECT_TRUE(LogHas("ERROR  :发生异常 MainFrame::OnSocketRead"));
    m_onMessage = nullptr;
    Send("12,101");
    EXPECT_TRUE(m_reader.OnSocketRead(m_ours));
    EXPECT_EQ(Replies(), "OK");
}

// The replies to a cashier that never reads pile up until they no longer fit;
// the reader must then give the connection up instead of waiting, even on a
// blocking socket.
TEST_F(MessageReaderTest, ReplyThatDoesNotFitClosesWithoutWaiting) {
    IniHelper::GetInstance()->Settings().debug = true;
    const int smallest = 1;
    ::setsockopt(m_ours, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof(smallest));
    bool kept = true;
    int reads = 0;
    while (kept && reads < 100000) {
        Send("12,101");
        auto read =
            std::async(std::launch::async, [this] { return m_reader.OnSocketRead(m_ours); });
        if (read.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ::shutdown(m_cashier, SHUT_RDWR);  // lets the stuck reader go
            FAIL() << "the reader waited for a cashier that does not read";
        }
        kept = read.get();
        ++reads;
    }
    EXPECT_FALSE(kept);
    EXPECT_TRUE(LogHas("OnSocketRead调用send()失败."));
    EXPECT_EQ(Replies().size(), 2u * static_cast<size_t>(reads - 1));
}

}  // namespace
