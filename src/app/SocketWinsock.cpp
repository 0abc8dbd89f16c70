#include <winsock2.h>

#include <utility>

#include "app/Socket.h"

static_assert(sizeof(SocketHandle) == sizeof(SOCKET) && kNoSocket == INVALID_SOCKET,
              "the holder keeps Winsock's own handle");

Socket Socket::Open(int domain, int type, int protocol) {
    // Not inherited, so that the updater we start never holds one of ours.
    return Socket(::WSASocketW(domain, type, protocol, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

bool Socket::SetNonBlocking(bool on) const {
    u_long mode = on ? 1 : 0;
    return ::ioctlsocket(m_fd, FIONBIO, &mode) == 0;
}

// The one place a socket is closed.
void Socket::Close() noexcept {
    if (m_fd == kNoSocket) {
        return;
    }
    // The handle is gone whatever closesocket reports. The last error stays
    // as it was, so a caller can still read why a call failed.
    const int savedError = ::WSAGetLastError();
    ::closesocket(std::exchange(m_fd, kNoSocket));
    ::WSASetLastError(savedError);
}
