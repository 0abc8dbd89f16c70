#pragma once

#include <signal.h>

#include <cstddef>

// A signal stack of the calling thread's own for as long as the object lives,
// so that the crash handler still runs, and writes its record, when this
// thread dies of a stack overflow. The alternate stack is per thread and not
// inherited: every thread the program starts makes one at the top of its
// body. Non-copyable; the previous stack (usually none) is put back at the end.
class AltSignalStack {
public:
    AltSignalStack();
    ~AltSignalStack();
    AltSignalStack(const AltSignalStack&) = delete;
    AltSignalStack& operator=(const AltSignalStack&) = delete;

    // False when no stack could be mapped or installed; the thread then runs
    // as before, and an overflow on it ends the process without a record.
    bool Installed() const { return m_installed; }

    // Room for the handler: the record is written with small buffers, but
    // backtrace() and the dynamic loader need some depth.
    static constexpr size_t kSize = 64 * 1024;

private:
    void* m_memory = nullptr;
    stack_t m_previous{};
    bool m_installed = false;
};
