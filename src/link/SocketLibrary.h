#pragma once

// The system's socket library for as long as this holder lives: Winsock 2.2
// is started by each holder and shut down with it (the starts are counted, so
// holders may overlap); BSD sockets need no start.
class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

    // False when the library could not be started in the version asked for;
    // no socket may then be made.
    bool Started() const { return m_started; }

private:
    bool m_started = false;
};
