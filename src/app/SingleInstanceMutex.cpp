#include <windows.h>

#include <utility>

#include "app/Helpers.h"
#include "app/SingleInstance.h"

namespace {

// The window message a second copy sends; the running copy shows its window.
const UINT kNoticeMessage = 1130;
// The title of the running copy's main window, which the notice goes to.
const wchar_t* const kMainWindowTitle = L"Tallix语音端";

}  // namespace

SingleInstance::SingleInstance() : m_name("qbnt_Voice") {}

SingleInstance::SingleInstance(std::string name) : m_name(std::move(name)) {}

bool SingleInstance::Acquire() {
    if (m_mutex) {
        return true;
    }
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Utf8ToWide(m_name).c_str());
    if (mutex == nullptr) {
        return true;  // cannot tell: better run than refuse to start
    }
    // Read before anything else can change the thread's last error.
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    m_mutex = std::shared_ptr<void>(mutex, ::CloseHandle);
    return true;
}

void SingleInstance::NotifyRunning() {
    // Before the running copy has its main window (still at its login) there
    // is no one to tell, and this copy simply ends.
    if (HWND window = ::FindWindowW(nullptr, kMainWindowTitle)) {
        ::SendMessageW(window, kNoticeMessage, 0, 0);
    }
}

// The notice comes as window message 1130 to the running copy's main window,
// whose window procedure is to bring the windows to the front; the Windows
// build has no windows yet, so no one takes it so far. Nothing waits on a
// socket here.
bool SingleInstance::TakeNotices() {
    return false;
}
