#pragma once

#include <string>

#include "app/Socket.h"

// Only one copy of the program runs: the first holds the abstract socket
// "qbnt_Voice" for its whole life (the OS releases it if the process dies).
class SingleInstance {
public:
    SingleInstance();
    // Another name, so that tests do not meet a copy of the program that runs.
    explicit SingleInstance(std::string name);
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True for the first copy.
    bool Acquire();
    // A second copy tells the running one (which ignores it).
    void NotifyRunning();

private:
    std::string m_name;
    Socket m_socket;  // the name's holder, once acquired
};
