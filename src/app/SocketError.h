#pragma once

// Why the last socket call of this thread failed, and what kind of failure a
// code is, in the build's own error codes (errno here, WSAGetLastError under
// Winsock), so that the callers test kinds and never one system's numbers.

// The code of the last failed socket call on this thread.
int LastSocketError();

// A call on a non-blocking socket that would have had to wait.
bool IsWouldBlock(int error);
// A call cut short by a signal; trying again is right.
bool IsInterrupted(int error);
// A non-blocking connect that is under way.
bool IsConnectPending(int error);
// No descriptor or buffer left for a new connection.
bool IsOutOfDescriptors(int error);
// An accept that failed for the one pending connection, not for the
// listening socket: the next accept may well succeed.
bool IsTransientAcceptError(int error);

// Codes the link check logs for failures it finds itself.
int AddressUnusableError();
int TimedOutError();
