#include "app/Socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <utility>

namespace {

bool IsOpenDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

bool IsClosedDescriptor(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

Socket OpenTcp() {
    return Socket::Open(AF_INET, SOCK_STREAM, 0);
}

TEST(SocketTest, GoingClosesTheDescriptor) {
    int fd = -1;
    {
        const Socket socket = OpenTcp();
        ASSERT_TRUE(socket.IsOpen());
        fd = socket.Fd();
        EXPECT_TRUE(IsOpenDescriptor(fd));
    }
    EXPECT_TRUE(IsClosedDescriptor(fd));
}

TEST(SocketTest, MoveLeavesTheSourceEmptyAndTheTargetCloses) {
    Socket source = OpenTcp();
    ASSERT_TRUE(source.IsOpen());
    const int fd = source.Fd();
    {
        const Socket target(std::move(source));
        EXPECT_FALSE(source.IsOpen());
        EXPECT_EQ(source.Fd(), -1);
        EXPECT_EQ(target.Fd(), fd);
        EXPECT_TRUE(IsOpenDescriptor(fd));
    }
    EXPECT_TRUE(IsClosedDescriptor(fd));
}

TEST(SocketTest, MovingOntoAHolderClosesWhatItHeld) {
    Socket source = OpenTcp();
    Socket target = OpenTcp();
    ASSERT_TRUE(source.IsOpen() && target.IsOpen());
    const int moved = source.Fd();
    const int replaced = target.Fd();
    target = std::move(source);
    EXPECT_TRUE(IsClosedDescriptor(replaced));
    EXPECT_EQ(target.Fd(), moved);
    EXPECT_TRUE(IsOpenDescriptor(moved));
    EXPECT_FALSE(source.IsOpen());
    target = Socket();
    EXPECT_TRUE(IsClosedDescriptor(moved));
    EXPECT_FALSE(target.IsOpen());
}

// The emptied source must not close the number again once the system has
// handed it to someone else.
TEST(SocketTest, TheDescriptorIsClosedOnlyOnce) {
    auto source = std::make_unique<Socket>(OpenTcp());
    ASSERT_TRUE(source->IsOpen());
    const int fd = source->Fd();
    { const Socket target(std::move(*source)); }
    // The lowest free number comes next, which is the one just closed.
    const Socket next = OpenTcp();
    ASSERT_EQ(next.Fd(), fd);
    source.reset();
    EXPECT_TRUE(IsOpenDescriptor(fd));
}

TEST(SocketTest, OpenedSocketsAreCloseOnExec) {
    const Socket socket = Socket::Open(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_TRUE(socket.IsOpen());
    EXPECT_NE(::fcntl(socket.Fd(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(socket.Fd(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(SocketTest, NonBlockingIsSwitchedBothWays) {
    const Socket socket = OpenTcp();
    ASSERT_TRUE(socket.IsOpen());
    EXPECT_TRUE(socket.SetNonBlocking(true));
    EXPECT_NE(::fcntl(socket.Fd(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(socket.SetNonBlocking(false));
    EXPECT_EQ(::fcntl(socket.Fd(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_FALSE(Socket().SetNonBlocking(true));
}

TEST(SocketTest, AFailedOpenIsEmptyAndSaysWhy) {
    const Socket socket = Socket::Open(-1, SOCK_STREAM, 0);
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(errno, EAFNOSUPPORT);
}

}  // namespace
