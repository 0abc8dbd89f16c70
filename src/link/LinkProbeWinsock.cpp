#include <winsock2.h>
#include <ws2tcpip.h>

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

// One attempt; `cancelFd` (or kNoSocket) becoming readable abandons the wait
// quietly. Winsock's select takes any socket handle (its sets hold handles,
// not bits), and reports a refused connect in the exception set.
bool ConnectProbe(const std::string& address, std::uint32_t port, SocketHandle cancelFd) {
    if (address.empty()) {
        return false;
    }
    const Socket probe = OpenTcpSocket();
    if (!probe.IsOpen()) {
        return false;
    }
    const SOCKET fd = probe.Fd();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    std::uint32_t ipv4 = 0;
    // Only a dotted IPv4 address will do: no name is resolved, and a port that
    // does not fit 16 bits names no port at all.
    if (port == 0 || port > 65535 || !ParseIpv4(address, ipv4)) {
        LogError("connect出错，errorid: ", WSAEADDRNOTAVAIL);
        return false;
    }
    target.sin_addr.s_addr = ipv4;
    target.sin_port = htons(static_cast<u_short>(port));

    if (!probe.SetNonBlocking(true)) {
        LogError("设置SOCKET为异步时出错，errorid: ", ::WSAGetLastError());
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0) {
        return true;
    }
    if (const int error = ::WSAGetLastError(); error != WSAEWOULDBLOCK) {
        LogError("connect出错，errorid: ", error);
        return false;
    }

    fd_set writable;
    fd_set failed;
    fd_set cancelled;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_ZERO(&cancelled);
    FD_SET(fd, &writable);
    FD_SET(fd, &failed);
    if (cancelFd != kNoSocket) {
        FD_SET(cancelFd, &cancelled);
    }
    timeval limit{kConnectLimitMs / 1000, (kConnectLimitMs % 1000) * 1000};
    const int ready = ::select(0, &cancelled, &writable, &failed, &limit);
    if (ready == 0) {
        LogError("select错误或者超时，errorid: ", WSAETIMEDOUT);
        return false;
    }
    if (ready == SOCKET_ERROR) {
        LogError("select错误或者超时，errorid: ", ::WSAGetLastError());
        return false;
    }
    if (cancelFd != kNoSocket && FD_ISSET(cancelFd, &cancelled)) {
        return false;  // stopping: nobody waits for this answer any more
    }
    if (!FD_ISSET(fd, &writable) && !FD_ISSET(fd, &failed)) {
        LogHelper::GetInstance()->Error("fd_isset出错，socket不在集合里.");
        return false;
    }
    int pending = 0;
    int length = sizeof(pending);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &length) != 0) {
        LogError("getsockopt出错，errorid: ", ::WSAGetLastError());
        return false;
    }
    if (pending != 0) {
        LogError("connect出错，errorid: ", pending);
        return false;
    }
    if (!probe.SetNonBlocking(false)) {
        LogError("设置SOCKET为同步时出错，errorid: ", ::WSAGetLastError());
        return false;
    }
    return true;
}

// Winsock has no eventfd: a UDP socket on the loopback, connected to itself,
// turns readable when a byte is sent to it, and select waits on it with the probe.
Socket OpenProbeCancel() {
    Socket cancel = Socket::Open(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (!cancel.IsOpen()) {
        return cancel;
    }
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(self);
    if (::bind(cancel.Fd(), reinterpret_cast<const sockaddr*>(&self), sizeof(self)) != 0 ||
        ::getsockname(cancel.Fd(), reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
        ::connect(cancel.Fd(), reinterpret_cast<const sockaddr*>(&self), sizeof(self)) != 0 ||
        !cancel.SetNonBlocking(true)) {
        return Socket();
    }
    return cancel;
}

void SignalProbeCancel(const Socket& cancel) {
    const char one = 1;
    ::send(cancel.Fd(), &one, 1, 0);
}
