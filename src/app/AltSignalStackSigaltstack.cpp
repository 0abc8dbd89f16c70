#include <signal.h>
#include <sys/mman.h>

#include "app/AltSignalStack.h"

AltSignalStack::AltSignalStack() {
    // Mapped rather than taken from the heap: page-aligned, and apart from
    // memory that the crash being recorded may have damaged.
    void* memory = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) {
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kSize;
    stack_t previous{};
    if (::sigaltstack(&stack, &previous) != 0) {
        ::munmap(memory, kSize);
        return;
    }
    m_previousStack = previous.ss_sp;
    m_previousSize = previous.ss_size;
    m_previousFlags = previous.ss_flags;
    m_memory = memory;
    m_installed = true;
}

AltSignalStack::~AltSignalStack() {
    if (!m_installed) {
        return;
    }
    if ((m_previousFlags & SS_DISABLE) != 0) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    } else {
        stack_t previous{};
        previous.ss_sp = m_previousStack;
        previous.ss_size = m_previousSize;
        previous.ss_flags = m_previousFlags;
        ::sigaltstack(&previous, nullptr);
    }
    ::munmap(m_memory, kSize);
}
