#include <cerrno>

#include "app/SocketError.h"

int LastSocketError() {
    return errno;
}

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool IsInterrupted(int error) {
    return error == EINTR;
}

bool IsConnectPending(int error) {
    return error == EINPROGRESS;
}

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

bool IsTransientAcceptError(int error) {
    switch (error) {
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
        case ETIMEDOUT:
            return true;
        default:
            return false;
    }
}

int AddressUnusableError() {
    return EADDRNOTAVAIL;
}

int TimedOutError() {
    return ETIMEDOUT;
}
