#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "app/SingleInstance.h"

namespace {

// A name of this test run's own, so a copy of the program that runs on the
// machine is never disturbed.
std::string TestName(const char* tag) {
    return "qbnt_Voice_test_" + std::to_string(::getpid()) + "_" + tag;
}

// Holds an abstract name the way another process would.
int HoldAbstract(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(SingleInstanceTest, SecondCopyIsRefusedUntilTheFirstEnds) {
    const std::string name = TestName("pair");
    auto first = std::make_unique<SingleInstance>(name);
    ASSERT_TRUE(first->Acquire());
    EXPECT_TRUE(first->Acquire());  // asking again changes nothing
    SingleInstance second(name);
    EXPECT_FALSE(second.Acquire());
    first.reset();
    EXPECT_TRUE(second.Acquire());
}

TEST(SingleInstanceTest, NameIsReleasedWhenTheHolderDies) {
    const std::string name = TestName("dies");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance holder(name);
        const char ok = holder.Acquire() ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    EXPECT_FALSE(SingleInstance(name).Acquire());
    ::kill(child, SIGKILL);  // no clean-up of its own
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(SingleInstance(name).Acquire());
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(SingleInstanceTest, NoticeReachesTheRunningCopy) {
    const std::string name = TestName("notice");
    const int running = HoldAbstract(name);
    ASSERT_GE(running, 0);
    SingleInstance second(name);
    EXPECT_FALSE(second.Acquire());
    second.NotifyRunning();
    const int connection = ::accept(running, nullptr, nullptr);
    ASSERT_GE(connection, 0);
    char notice[16] = {};
    EXPECT_EQ(::recv(connection, notice, sizeof(notice), 0), 4);
    EXPECT_STREQ(notice, "1130");
    ::close(connection);
    ::close(running);
}

// A running copy whose main thread is busy takes no notices off its queue;
// later copies must still end at once instead of waiting for room.
TEST(SingleInstanceTest, NoticeNeverWaitsForARunningCopyThatDoesNotListen) {
    const std::string name = TestName("full");
    SingleInstance running(name);
    ASSERT_TRUE(running.Acquire());
    auto notices = std::async(std::launch::async, [&] {
        for (int i = 0; i < 50; ++i) {
            SingleInstance(name).NotifyRunning();
        }
    });
    EXPECT_EQ(notices.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    // Once it looks again, the queue is taken off in one go.
    EXPECT_TRUE(running.TakeNotices());
    EXPECT_FALSE(running.TakeNotices());
}

// The running copy acts on the notice only: a stranger's connection that says
// something else, or nothing, shows no window.
TEST(SingleInstanceTest, RunningCopyTakesTheNoticeAndNothingElse) {
    const std::string name = TestName("take");
    SingleInstance running(name);
    ASSERT_TRUE(running.Acquire());
    ASSERT_GE(running.NoticeFd(), 0);
    EXPECT_FALSE(running.TakeNotices());

    SingleInstance(name).NotifyRunning();
    EXPECT_TRUE(running.TakeNotices());
    EXPECT_FALSE(running.TakeNotices());

    for (const std::string said : {"", "9999"}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::send(fd, said.data(), said.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(said.size()));
        ::close(fd);
        EXPECT_FALSE(running.TakeNotices()) << "said \"" << said << '"';
    }
}

TEST(SingleInstanceTest, OnlyTheHolderWatchesForNotices) {
    const std::string name = TestName("holder");
    SingleInstance running(name);
    ASSERT_TRUE(running.Acquire());
    SingleInstance second(name);
    EXPECT_FALSE(second.Acquire());
    EXPECT_EQ(second.NoticeFd(), -1);
    EXPECT_FALSE(second.TakeNotices());
}

TEST(SingleInstanceTest, ProgramUsesTheNameQbntVoice) {
    const int holder = HoldAbstract("qbnt_Voice");
    if (holder < 0) {
        GTEST_SKIP() << "a copy of the program runs on this machine";
    }
    EXPECT_FALSE(SingleInstance().Acquire());
    ::close(holder);
}

}  // namespace
