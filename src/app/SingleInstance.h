#pragma once

#include <string>

#include "app/Socket.h"

// Only one copy of the program runs: the first holds the abstract socket
// "qbnt_Voice" for its whole life (the OS releases it if the process dies).
// A later start tells it so over that socket, and the running copy brings its
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
    // when one waits), or -1 when not holding the name.
    int NoticeFd() const { return m_socket.Fd(); }
    // The running copy: accepts the starts waiting now; true when one of
    // them brought the notice.
    bool TakeNotices();

private:
    std::string m_name;
    Socket m_socket;  // the name's holder, once acquired
};
