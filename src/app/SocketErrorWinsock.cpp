#include <winsock2.h>

#include "app/SocketError.h"

int LastSocketError() {
    return ::WSAGetLastError();
}

bool IsWouldBlock(int error) {
    return error == WSAEWOULDBLOCK;
}

bool IsInterrupted(int error) {
    return error == WSAEINTR;
}

// Winsock reports a non-blocking connect under way as one that would block.
bool IsConnectPending(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

bool IsOutOfDescriptors(int error) {
    return error == WSAEMFILE || error == WSAENOBUFS;
}

bool IsTransientAcceptError(int error) {
    switch (error) {
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETDOWN:
        case WSAEHOSTDOWN:
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
        case WSAETIMEDOUT:
            return true;
        default:
            return false;
    }
}

int AddressUnusableError() {
    return WSAEADDRNOTAVAIL;
}

int TimedOutError() {
    return WSAETIMEDOUT;
}
