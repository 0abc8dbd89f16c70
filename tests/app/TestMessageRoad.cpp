// The road of a cashier message as the services wire it: the listening port,
// the reader, the composer by the message's form. Each text goes over a real
// connection and comes out as the announcements it queues.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

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

using namespace std::string_literals;

const Announcement kWaiter12 = {"工作人员请注意.wav", "1.wav", "十.wav", "2.wav",
                                "号机需要服务员帮助.mp3"};
const Announcement kCleaner13 = {"工作人员请注意.wav", "1.wav", "十.wav", "3.wav",
                                 "号机需要保洁员帮助.mp3"};

struct RoadCase {
    const char* name;
    std::string bytes;
    size_t replies;
    std::vector<Announcement> queued;
};

void PrintTo(const RoadCase& c, std::ostream* os) {
    *os << c.name;
}

class MessageRoadTest : public testing::TestWithParam<RoadCase> {
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

    TempProgramDir m_dir;
    std::vector<Announcement> m_queued;
    AnnouncementComposer m_composer{[this](const Announcement& a) { m_queued.push_back(a); }};
    MessageReader m_reader{
        [this](const CashierMessage& m) { VoiceServices::Compose(m_composer, m); }};
};

TEST_P(MessageRoadTest, TextsBecomeTheirAnnouncements) {
    const int cashier = ConnectLoopback(Listen());
    ASSERT_GE(cashier, 0);
    const std::string& bytes = GetParam().bytes;
    ASSERT_EQ(::send(cashier, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    std::string replies;
    EXPECT_TRUE(PumpUntil([&] {
        char buffer[64];
        const ssize_t n = ::recv(cashier, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n > 0) {
            replies.append(buffer, static_cast<size_t>(n));
        }
        return replies.size() >= 2 * GetParam().replies || n == 0;
    }));
    ::close(cashier);
    EXPECT_EQ(replies.size(), 2 * GetParam().replies);
    EXPECT_EQ(m_queued, GetParam().queued);
}

std::string Padded(std::string text, size_t size) {
    text.resize(size, '\0');
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MessageRoadTest,
    testing::Values(RoadCase{"Comma", "12,101", 1, {kWaiter12}},
                    RoadCase{"ZeroByteEndsTheText", "12,101\0xyz"s, 1, {kWaiter12}},
                    RoadCase{"LongTransmissionIsReadAsMessagesOf512Bytes",
                             Padded("12,101", 512) + Padded("13,102", 88),
                             2,
                             {kWaiter12, kCleaner13}},
                    RoadCase{"LineEndMakesACodeThatIsNoProduct", "12,101\r\n", 1, {}},
                    RoadCase{"FormatTextsAreNoMessage", "%s%n%x%%", 1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
