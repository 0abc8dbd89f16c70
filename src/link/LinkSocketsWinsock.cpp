#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "link/LinkSockets.h"

namespace {
int ClampedLength(std::size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}
}  // namespace

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return false;
    }
    address = parsed.s_addr;
    return true;
}

std::uint32_t AnyIpv4() {
    return htonl(INADDR_ANY);
}

Socket OpenTcpSocket() {
    return Socket::Open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

bool BindTcp(const Socket& socket, std::uint32_t address, int port) {
    // No SO_REUSEADDR here: under Winsock it would let this socket take a
    // port that another program listens on. Connections of the last run in
    // TIME_WAIT do not keep a plain bind from the port.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(static_cast<u_short>(port));
    return ::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

bool ListenTcp(const Socket& socket) {
    return ::listen(socket.Fd(), SOMAXCONN) == 0;
}

Socket AcceptNonBlocking(const Socket& listening, int& error) {
    // An accepted socket takes the listening one's properties; it is made
    // non-blocking here all the same, so a send never waits on a full peer.
    // Winsock sockets are not inherited by the programs we start.
    Socket connection(::accept(listening.Fd(), nullptr, nullptr));
    if (!connection.IsOpen()) {
        error = ::WSAGetLastError();
        return connection;
    }
    if (!connection.SetNonBlocking(true)) {
        error = ::WSAGetLastError();
        return Socket();
    }
    error = 0;
    return connection;
}

bool HasSocketFailed(SocketHandle fd) {
    WSAPOLLFD p{};
    p.fd = fd;
    p.events = POLLRDNORM;
    return ::WSAPoll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void LimitSendBuffer(SocketHandle fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
}

long ReceiveSome(SocketHandle fd, char* buffer, std::size_t size) {
    return ::recv(fd, buffer, ClampedLength(size), 0);
}

// Winsock raises no signal for a peer that is gone, and the socket is
// non-blocking from its accept on.
long SendNow(SocketHandle fd, const char* data, std::size_t size) {
    return ::send(fd, data, ClampedLength(size), 0);
}
