#pragma once

#include <cstddef>

// A signal stack of the calling thread's own for as long as the object lives,
// so that the crash handler still runs, and writes its record, when this
// thread dies of a stack overflow. The alternate stack is per thread and not
// inherited: every thread the program starts makes one at the top of its
// body. Non-copyable; the previous stack (usually none) is put back at the end.
// On Windows (AltSignalStackGuarantee.cpp) there are no signal stacks: the
// thread's stack keeps that much in reserve past an overflow instead, for the
// exception filter that hands the record to a thread of its own.
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
    // The stack that was there before (stack_t's fields, kept apart so that
    // this header needs no signal header).
    void* m_previousStack = nullptr;
    size_t m_previousSize = 0;
    int m_previousFlags = 0;
    bool m_installed = false;
};
