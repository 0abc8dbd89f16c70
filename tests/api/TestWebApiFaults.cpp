#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/BaseUrl.h"
#include "api/HttpClient.h"
#include "api/LoginApi.h"
#include "api/LoginResult.h"
#include "api/UpdateApi.h"
#include "app/IniHelper.h"
#include "support/FakeWebApi.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

// Every web API call the program makes, against a server that misbehaves in
// one way: the call fails cleanly, leaves nothing behind, and comes back once
// the lowered limits run out. A server that is merely slow answers 200 in the
// end, so a limit that does not hold shows up as a call that succeeds.
namespace {

struct Fault {
    const char* name;
    const char* behaviour;  // the fake server's answer to every path; nullptr: nobody listens
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.name;
}

const Fault kFaults[] = {
    {"refused", nullptr},
    {"status_500", R"({"status": 500, "body": "boom"})"},
    {"slow_to_answer", R"({"delay": 30, "body": "late"})"},
    {"closed_mid_answer", R"({"close_mid": true, "body": "half of this answer"})"},
    {"stalled_mid_answer", R"({"stall_mid": true, "body": "half of this answer"})"},
};

class WebApiFaults : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        m_savedLimits = GetHttpLimits();
        *LoginResult::GetInstance() = LoginResult();

        const std::string behaviour =
            GetParam().behaviour != nullptr ? GetParam().behaviour : R"({"body": "ok"})";
        m_server = std::make_unique<FakeWebApi>(R"({"update_url": "u", "responses": {"*": )" +
                                                behaviour + "}}");
        ASSERT_TRUE(m_server->Running()) << m_server->Error();
        AppSettings& settings = IniHelper::GetInstance()->Settings();
        settings.url = m_server->BaseUrl();
        settings.storeId = "88";
        settings.timeOut = 2;
        if (GetParam().behaviour == nullptr) {
            // The port was just in use and is now closed: connections are refused.
            m_server->Stop();
        }
    }
    void TearDown() override { SetHttpLimits(m_savedLimits); }

    // Transport failures have no log line of their own; nothing may be
    // reported as an error instead.
    void ExpectNoErrorLogged() const {
        EXPECT_EQ(m_dir.LogText().find("ERROR"), std::string::npos) << m_dir.LogText();
    }

    TempProgramDir m_dir;
    std::unique_ptr<FakeWebApi> m_server;
    HttpLimits m_savedLimits;
};

TEST_P(WebApiFaults, LoginReadsNetworkErrorAndKeepsNoAddress) {
    std::string message;
    EXPECT_FALSE(RequestLogin(0, message, "boss", "secret", "", "5001"));
    EXPECT_EQ(message, "网络错误.");
    EXPECT_EQ(LoginResult::GetInstance()->localIp, "");
    EXPECT_EQ(LoginResult::GetInstance()->localPort, 0u);
    EXPECT_EQ(LoginResult::GetInstance()->servicePort, 0u);
    ExpectNoErrorLogged();
}

TEST_P(WebApiFaults, UpdateCheckReadsNetworkError) {
    std::string answer;
    EXPECT_FALSE(RequestUpdateUrl(answer));
    EXPECT_EQ(answer, "网络错误.");
    ExpectNoErrorLogged();
}

// A server clip that cannot be fetched leaves no partial or temporary file in
// the audio folder, so the next message naming it tries again.
TEST_P(WebApiFaults, ClipDownloadLeavesNothingInTheAudioFolder) {
    EXPECT_FALSE(DownloadFile(GetBaseUrl() + "/ads/new.mp3", m_dir.File("Audio/_ads_new.mp3")));
    const fs::path audio = m_dir.File("Audio");
    if (fs::exists(audio)) {
        std::vector<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(audio)) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_TRUE(left.empty()) << left.front();
    }
    ExpectNoErrorLogged();
}

INSTANTIATE_TEST_SUITE_P(Faults, WebApiFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
