#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/VoiceServices.h"
#include "link/MessageReader.h"
#include "link/SocketHelper.h"
#include "support/LoopbackPeers.h"
#include "support/QtPump.h"
#include "support/TempProgramDir.h"
#include "voice/AnnouncementComposer.h"

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
    std::vector<Announcement> m_queued;
    AnnouncementComposer m_composer{[this](const Announcement& a) { m_queued.push_back(a); }};
    MessageReader m_reader{
        [this](const CashierMessage& m) { VoiceServices::Compose(m_composer, m); }};
    QProcess m_process;
};

TEST_F(CashierSimulatorTest, SendsEscapedTextsAndPrintsEachReply) {
    const int port = Listen();
    const QString longText = "12,101" + QString(594, 'x');
    Run({"--port", QString::number(port), "12,101", "12,101\\0xyz", "12,101\\r\\n", "5.12#7",
         "12#7", longText});
    EXPECT_EQ(m_process.exitCode(), 0) << m_process.readAllStandardError().toStdString();
    EXPECT_EQ(Output(), "OK\nOK\nOK\nOK\nOK\nOKOK\n");
    ASSERT_EQ(m_queued.size(), 3u);
    EXPECT_EQ(m_queued[0], m_queued[1]);  // the zero byte ended the text
    EXPECT_EQ(m_queued[0].back(), "号机需要服务员帮助.mp3");
    EXPECT_EQ(m_queued[2][3], "onlinePay.wav");
}

TEST_F(CashierSimulatorTest, ReadsTextsFromStandardInput) {
    const int port = Listen();
    m_process.setStandardInputFile(QString::fromStdString(m_dir.File("texts")));
    m_dir.Write("texts", "12,101\n\n13,102\n");
    Run({"--port", QString::number(port)});
    EXPECT_EQ(m_process.exitCode(), 0);
    EXPECT_EQ(Output(), "OK\nOK\n");
    EXPECT_EQ(m_queued.size(), 2u);
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
