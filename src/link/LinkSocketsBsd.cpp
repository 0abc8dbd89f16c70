#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "link/LinkSockets.h"

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
    // Set before bind: a restart binds over connections left in TIME_WAIT,
    // while a port that another program listens on is still refused.
    const int one = 1;
    ::setsockopt(socket.Fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(static_cast<uint16_t>(port));
    return ::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

bool ListenTcp(const Socket& socket) {
    return ::listen(socket.Fd(), SOMAXCONN) == 0;
}

Socket AcceptNonBlocking(const Socket& listening, int& error) {
    Socket connection(::accept4(listening.Fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    error = connection.IsOpen() ? 0 : errno;
    return connection;
}

bool HasSocketFailed(SocketHandle fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void LimitSendBuffer(SocketHandle fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
}

long ReceiveSome(SocketHandle fd, char* buffer, std::size_t size) {
    return ::recv(fd, buffer, size, 0);
}

long SendNow(SocketHandle fd, const char* data, std::size_t size) {
    return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}
