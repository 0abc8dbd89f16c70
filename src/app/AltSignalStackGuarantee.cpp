#include <windows.h>

#include "app/AltSignalStack.h"

// The reserve is the thread's own for its whole life; the system gives it
// back with the stack, so nothing is undone at the end.
AltSignalStack::AltSignalStack() {
    ULONG reserve = static_cast<ULONG>(kSize);
    m_installed = ::SetThreadStackGuarantee(&reserve) != FALSE;
}

AltSignalStack::~AltSignalStack() = default;
