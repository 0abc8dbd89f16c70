#pragma once

#include <memory>
#include <string>

#include "app/Socket.h"

// Only one copy of the program runs: the first holds the name "qbnt_Voice" for
// its whole life (the OS releases it if the process dies): an abstract socket
// on Linux (SingleInstanceUnixSocket.cpp), a named mutex on Windows
// (SingleInstanceMutex.cpp). A later start tells it so, over that socket or
// as window message 1130 to its window, and the running copy brings its
// window to the front: the one way back to a window hidden in a tray that
// has since gone.
class SingleInstance {
public:
    SingleInstance();
    // Another name, so that tests do not meet a copy of the program that runs.
    explicit SingleInstance(std::string name);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True for the first copy.
    bool Acquire();
    // A second copy tells the running one.
    void NotifyRunning();
    // The running copy: the descriptor to watch for a second start (readable
    // when one waits), or kNoSocket when not holding the name or when the
    // notice comes as a window message (Windows) instead.
    int NoticeFd() const { return m_socket.Fd(); }
    // The running copy: accepts the starts waiting now; true when one of
    // them brought the notice.
    bool TakeNotices();

private:
    std::string m_name;
    Socket m_socket;  // the name's holder on Linux, once acquired
    // The name's holder on Windows, once acquired: the mutex handle, closed
    // with it (the type stays out of this header).
    std::shared_ptr<void> m_mutex;
};
