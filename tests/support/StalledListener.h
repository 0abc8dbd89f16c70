#pragma once

#include <cstdint>
#include <vector>

// A loopback listener whose accept queue is full, so that a further connect
// gets no answer at all: the stand-in for a host that swallows connections.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    bool Ready() const { return m_ready; }
    uint16_t Port() const { return m_port; }

private:
    int m_listener = -1;
    std::vector<int> m_clients;
    uint16_t m_port = 0;
    bool m_ready = false;
};
