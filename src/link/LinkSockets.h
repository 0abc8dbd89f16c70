#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Socket.h"

// The socket calls of the cashier link, in the form of the build's socket
// mechanism (LinkSocketsBsd.cpp, LinkSocketsWinsock.cpp); failures leave
// their reason in LastSocketError().

// An IPv4 address in dotted form, in network byte order; false for anything else.
bool ParseIpv4(const std::string& text, std::uint32_t& address);
// The address that stands for every local IPv4 address, in network byte order.
std::uint32_t AnyIpv4();

// A new IPv4 TCP socket.
Socket OpenTcpSocket();
// Binds to the address (network byte order) and port, so that a restart binds
// over connections of the last run still in TIME_WAIT while a port another
// program listens on is refused.
bool BindTcp(const Socket& socket, std::uint32_t address, int port);
// Listens with the system's largest backlog.
bool ListenTcp(const Socket& socket);
// One waiting connection, non-blocking and not inherited by the programs we
// start; empty with the reason in `error` when there is none.
Socket AcceptNonBlocking(const Socket& listening, int& error);
// A socket woken with nothing to read: true when it reports an error or hang-up.
bool HasSocketFailed(SocketHandle fd);

// Bounds what the system buffers for sending on the connection.
void LimitSendBuffer(SocketHandle fd, int bytes);
// What one receive returns; < 0 on failure, 0 when the peer has closed.
long ReceiveSome(SocketHandle fd, char* buffer, std::size_t size);
// Sends without waiting and without a signal for a peer that is gone; < 0
// when it fails or would have to wait.
long SendNow(SocketHandle fd, const char* data, std::size_t size);
