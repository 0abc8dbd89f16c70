#pragma once

#include <cstdint>
#include <string>

#include "app/Socket.h"

// The link check's connection attempt and the means of cutting it short, in
// the build's socket mechanism (LinkProbeBsd.cpp, LinkProbeWinsock.cpp). The
// socket library must be started around them.

// One TCP connection attempt with a 5-second limit, logging why it failed;
// `cancel` (or kNoSocket) becoming readable abandons the wait quietly.
bool ConnectProbe(const std::string& address, std::uint32_t port, SocketHandle cancel);
// A socket that becomes readable once SignalProbeCancel is called on it;
// empty when the system refuses one.
Socket OpenProbeCancel();
void SignalProbeCancel(const Socket& cancel);
