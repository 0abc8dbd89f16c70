#include <winsock2.h>

#include "link/SocketLibrary.h"

SocketLibrary::SocketLibrary() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return;
    }
    // Only 2.2 itself will do; a start in another version is ended again.
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        ::WSACleanup();
        return;
    }
    m_started = true;
}

SocketLibrary::~SocketLibrary() {
    if (m_started) {
        ::WSACleanup();
    }
}
