#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "app/LogHelper.h"
#include "link/LinkProbe.h"
#include "link/LinkSockets.h"

namespace {

const int kConnectLimitMs = 5000;

void LogError(const std::string& text, int code) {
    LogHelper::GetInstance()->Error(text + std::to_string(code));
}

}  // namespace

// One attempt; `cancelFd` (or -1) becoming readable abandons the wait quietly.
bool ConnectProbe(const std::string& address, std::uint32_t port, SocketHandle cancelFd) {
    if (address.empty()) {
        return false;
    }
    const Socket probe = OpenTcpSocket();
    if (!probe.IsOpen()) {
        return false;
    }
    const SocketHandle fd = probe.Fd();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    std::uint32_t ipv4 = 0;
    // Only a dotted IPv4 address will do: no name is resolved, and a port that
    // does not fit 16 bits names no port at all.
    if (port == 0 || port > 65535 || !ParseIpv4(address, ipv4)) {
        LogError("connect出错，errorid: ", EADDRNOTAVAIL);
        return false;
    }
    target.sin_addr.s_addr = ipv4;
    target.sin_port = htons(static_cast<uint16_t>(port));

    if (!probe.SetNonBlocking(true)) {
        LogError("设置SOCKET为异步时出错，errorid: ", errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        // Linux refuses a loopback connection at once rather than after the wait.
        LogError("connect出错，errorid: ", errno);
        return false;
    }

    pollfd fds[2] = {{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectLimitMs);
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = ::poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    if (ready == 0) {
        LogError("select错误或者超时，errorid: ", ETIMEDOUT);
        return false;
    }
    if (ready < 0) {
        LogError("select错误或者超时，errorid: ", errno);
        return false;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        return false;  // stopping: nobody waits for this answer any more
    }
    if ((fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) {
        LogHelper::GetInstance()->Error("fd_isset出错，socket不在集合里.");
        return false;
    }
    int pending = 0;
    socklen_t length = sizeof(pending);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
        LogError("getsockopt出错，errorid: ", errno);
        return false;
    }
    if (pending != 0) {
        LogError("connect出错，errorid: ", pending);
        return false;
    }
    if (!probe.SetNonBlocking(false)) {
        LogError("设置SOCKET为同步时出错，errorid: ", errno);
        return false;
    }
    return true;
}

// An eventfd: the socket holder closes it like any descriptor.
Socket OpenProbeCancel() {
    return Socket(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void SignalProbeCancel(const Socket& cancel) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(cancel.Fd(), &one, sizeof(one));
}
