#include "link/SocketLibrary.h"

// The kernel's sockets are there for every process: nothing to start or end.
SocketLibrary::SocketLibrary() : m_started(true) {}

SocketLibrary::~SocketLibrary() = default;
