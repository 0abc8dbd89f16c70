#pragma once

// The calling thread's membership of COM's multithreaded apartment, for as
// long as it lives: Core Audio's objects may then be used from this thread and
// call back on COM's own threads. A thread that joined a single-threaded
// apartment already (a toolkit's main thread) stays in it; COM is usable there
// too and is not left early on its behalf. Made and dropped on one thread.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // False when COM could not be initialised on this thread at all.
    bool Usable() const { return m_usable; }

private:
    bool m_usable = false;
    bool m_joined = false;  // ours to leave
};
