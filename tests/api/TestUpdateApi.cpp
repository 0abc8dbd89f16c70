#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/UpdateApi.h"
#include "app/Helpers.h"
#include "app/IniHelper.h"
#include "support/FakeWebApi.h"
#include "support/TempProgramDir.h"

namespace fs = std::filesystem;

namespace {

class UpdateApiTest : public ::testing::Test {
protected:
    AppSettings& Settings() { return IniHelper::GetInstance()->Settings(); }

    TempProgramDir m_dir;
};

TEST_F(UpdateApiTest, SendsKeyAndStoreIdAndKeepsTheAnswerAsItIs) {
    FakeWebApi server(R"({"update_url": "http://127.0.0.1/update/4.0.4.0.zip\r\n"})");
    ASSERT_TRUE(server.Running()) << server.Error();
    Settings().url = server.BaseUrl();
    Settings().storeId = "88";
    std::string answer;
    ASSERT_TRUE(RequestUpdateUrl(answer));
    EXPECT_EQ(answer, "http://127.0.0.1/update/4.0.4.0.zip\r\n");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/index/getVoiceUpdateUrl");
    EXPECT_EQ(requests[0].body, "key=vkmr582039&wb_id=88");
}

TEST_F(UpdateApiTest, WithoutStoreIdNothingIsSent) {
    FakeWebApi server(R"({"update_url": "u"})");
    ASSERT_TRUE(server.Running()) << server.Error();
    Settings().url = server.BaseUrl();
    Settings().storeId = "";
    std::string answer;
    EXPECT_FALSE(RequestUpdateUrl(answer));
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_NE(m_dir.LogText().find("网吧ID为空值。"), std::string::npos);
}

TEST_F(UpdateApiTest, FailuresReadNetworkError) {
    const char* const configs[] = {
        R"({"update_url": ""})",  // 200 with an empty body
        R"({"update_url": "u", "responses": {"*": {"status": 500, "body": "oops"}}})",
        R"({"update_url": "u", "responses": {"*": {"status": 204, "empty_body": true}}})",
    };
    for (const char* config : configs) {
        SCOPED_TRACE(config);
        FakeWebApi server(config);
        ASSERT_TRUE(server.Running()) << server.Error();
        Settings().url = server.BaseUrl();
        Settings().storeId = "88";
        std::string answer;
        EXPECT_FALSE(RequestUpdateUrl(answer));
        EXPECT_EQ(answer, "网络错误.");
    }
}

TEST_F(UpdateApiTest, EmptyUrlUsesTheBuiltInAddress) {
    const std::string builtIn = VOICE_DEFAULT_API_URL;
    const std::string port = builtIn.substr(builtIn.rfind(':') + 1);
    ASSERT_EQ(builtIn, "http://127.0.0.1:" + port) << "the test serves only on loopback";
    FakeWebApi server(R"({"update_url": "u"})", {"--port", port});
    if (!server.Running()) {
        GTEST_SKIP() << "the built-in port is taken: " << server.Error();
    }
    Settings().url = "";
    Settings().storeId = "88";
    std::string answer;
    ASSERT_TRUE(RequestUpdateUrl(answer));
    EXPECT_EQ(answer, "u");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].path, "/api/index/getVoiceUpdateUrl");
}

// --- the updater -------------------------------------------------------------

class LaunchUpdaterTest : public UpdateApiTest {
protected:
    void SetUp() override {
        m_record = m_dir.File("updater-args");
        ::setenv("AUTOUPDATE_RECORD", m_record.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("AUTOUPDATE_RECORD"); }

    void InstallUpdater() {
        fs::copy_file(VOICE_SOURCE_DIR "/tools/AutoUpdate.exe", m_dir.File("AutoUpdate.exe"));
        fs::permissions(m_dir.File("AutoUpdate.exe"), fs::perms::owner_all);
    }

    // The arguments of each start, once the stand-in has written them all
    // (each start ends with an empty entry).
    std::vector<std::vector<std::string>> WaitForStarts(size_t count) {
        for (int i = 0; i < 600; ++i) {
            const auto starts = Starts();
            if (starts.size() >= count) {
                return starts;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return Starts();
    }
    std::vector<std::vector<std::string>> Starts() const {
        std::vector<std::vector<std::string>> starts;
        const std::string text = m_dir.Read("updater-args");
        std::vector<std::string> current;
        size_t from = 0;
        for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', from)) {
            std::string arg = text.substr(from, at - from);
            from = at + 1;
            if (arg.empty()) {
                starts.push_back(current);
                current.clear();
            } else {
                current.push_back(arg);
            }
        }
        return starts;
    }

    std::string m_record;
};

TEST_F(LaunchUpdaterTest, StartsTheUpdaterWithAddressAndProcessIdAndLeavesNoChild) {
    InstallUpdater();
    const std::wstring address = Utf8ToWide("http://127.0.0.1/升级 包.zip\n");
    LaunchUpdater(address);
    LaunchUpdater(address);
    const auto starts = WaitForStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    for (const auto& args : starts) {
        ASSERT_EQ(args.size(), 3u);
        EXPECT_EQ(args[0], "start");
        EXPECT_EQ(args[1], "http://127.0.0.1/升级 包.zip\n");
        EXPECT_EQ(args[2], std::to_string(::getpid()));
    }
    // The updater is nobody's child of ours: nothing to wait for, no zombie.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(LaunchUpdaterTest, MissingUpdaterChangesNothingAndLogsNothing) {
    const std::string before = m_dir.LogText();
    LaunchUpdater(L"http://127.0.0.1/u");
    EXPECT_EQ(m_dir.LogText(), before);
    EXPECT_FALSE(m_dir.Exists("updater-args"));
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
}

TEST_F(LaunchUpdaterTest, EmptyAddressIsLoggedAndStartsNothing) {
    InstallUpdater();
    LaunchUpdater(L"");
    EXPECT_NE(m_dir.LogText().find("更新地址为空，不能更新。"), std::string::npos);
    // A later start proves the stand-in works; only that one is recorded.
    LaunchUpdater(L"u");
    const auto starts = WaitForStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0][1], "u");
}

}  // namespace
