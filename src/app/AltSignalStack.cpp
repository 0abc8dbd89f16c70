#include "app/AltSignalStack.h"

#include <sys/mman.h>

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
    if (::sigaltstack(&stack, &m_previous) != 0) {
        ::munmap(memory, kSize);
        return;
    }
    m_memory = memory;
    m_installed = true;
}

AltSignalStack::~AltSignalStack() {
    if (!m_installed) {
        return;
    }
    if ((m_previous.ss_flags & SS_DISABLE) != 0) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
    } else {
        ::sigaltstack(&m_previous, nullptr);
    }
    ::munmap(m_memory, kSize);
}
