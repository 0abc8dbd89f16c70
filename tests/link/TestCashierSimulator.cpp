#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/CashierMessage.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "support/LoopbackPeers.h"
#include "support/QtPump.h"
#include "support/TempProgramDir.h"

namespace {

// The cashier simulator of tools/ against the real listening port.
class CashierSimulatorTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ::signal(SIGPIPE, SIG_IGN);
        ::setenv("VOICE_LISTEN_ADDRESS", "127.0.0.1", 1);
        TestApplication();
    }
    void TearDown() override { SocketHelper::Destroy(); }

    int Listen() {
        std::wstring error;
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int port = FreeLoopbackPort();
            if (SocketHelper::GetInstance()->BindPort(port, error)) {
                EXPECT_TRUE(SocketHelper::GetInstance()->StartListening(
                    [this](int fd) { return m_reader.OnSocketRead(fd); }));
                return port;
            }
        }
        ADD_FAILURE() << "no port could be bound";
        return 0;
    }

    // Runs the simulator to its end while the event loop serves the port.
    QProcess& Run(const QStringList& arguments) {
        QStringList all{QString(VOICE_SOURCE_DIR "/tools/cashier_sim.py")};
        all += arguments;
        m_process.start("python3", all);
        EXPECT_TRUE(m_process.waitForStarted());
        EXPECT_TRUE(PumpUntil([&] { return m_process.state() == QProcess::NotRunning; }));
        return m_process;
    }
    std::string Output() { return m_process.readAllStandardOutput().toStdString(); }

    TempProgramDir m_dir;
    // Every message the reader handed on, as it cut it.
    std::vector<CashierMessage> m_received;
    MessageReader m_reader{[this](const CashierMessage& m) { m_received.push_back(m); }};
    QProcess m_process;
};

TEST_F(CashierSimulatorTest, SendsEscapedTextsAndPrintsEachReply) {
    const int port = Listen();
    const QString longText = "12,101" + QString(594, 'x');
    Run({"--port", QString::number(port), "12,101", "12,101\\0xyz", "12,101\\r\\n", "5.12#7",
         "12#7", longText});
    EXPECT_EQ(m_process.exitCode(), 0) << m_process.readAllStandardError().toStdString();
    EXPECT_EQ(Output(), "OK\nOK\nOK\nOK\nOK\nOKOK\n");
    using Form = CashierMessage::Form;
    const CashierMessage waiter12{Form::Comma, "12", "", "101"};
    // "12#7" (no full stop before the hash) and the x's after the first 512
    // bytes are no message.
    ASSERT_EQ(m_received.size(), 5u);
    EXPECT_EQ(m_received[0], waiter12);
    EXPECT_EQ(m_received[1], waiter12);  // the zero byte ended the text
    EXPECT_EQ(m_received[2], (CashierMessage{Form::Comma, "12", "", "101\r\n"}));
    EXPECT_EQ(m_received[3], (CashierMessage{Form::Dot, "5", "12", "7"}));
    EXPECT_EQ(m_received[4],
              (CashierMessage{Form::Comma, "12", "", "101" + std::string(506, 'x')}));
}

TEST_F(CashierSimulatorTest, ReadsTextsFromStandardInput) {
    const int port = Listen();
    m_process.setStandardInputFile(QString::fromStdString(m_dir.File("texts")));
    m_dir.Write("texts", "12,101\n\n13,102\n");
    Run({"--port", QString::number(port)});
    EXPECT_EQ(m_process.exitCode(), 0);
    EXPECT_EQ(Output(), "OK\nOK\n");
    EXPECT_EQ(m_received,
              (std::vector<CashierMessage>{{CashierMessage::Form::Comma, "12", "", "101"},
                                           {CashierMessage::Form::Comma, "13", "", "102"}}));
}

TEST_F(CashierSimulatorTest, FailsWhenNothingListens) {
    Run({"--port", QString::number(FreeLoopbackPort()), "12,101"});
    EXPECT_EQ(m_process.exitCode(), 1);
}

TEST_F(CashierSimulatorTest, ListensAsTheCashierAddress) {
    const int port = FreeLoopbackPort();
    m_process.start("python3", {QString(VOICE_SOURCE_DIR "/tools/cashier_sim.py"), "--listen",
                                "--port", QString::number(port)});
    ASSERT_TRUE(m_process.waitForStarted());
    std::string output;
    ASSERT_TRUE(PumpUntil([&] {
        output += Output();
        return output.find("listening on") != std::string::npos ||
               m_process.state() == QProcess::NotRunning;
    }));
    const int probe = ConnectLoopback(port);
    ASSERT_GE(probe, 0);
    char byte;
    EXPECT_EQ(::recv(probe, &byte, 1, 0), 0);  // accepted, then closed at once
    ::close(probe);
    EXPECT_TRUE(PumpUntil([&] {
        output += Output();
        return output.find("probe from 127.0.0.1") != std::string::npos;
    }));
    m_process.terminate();
    EXPECT_TRUE(m_process.waitForFinished(30000));
}

}  // namespace
