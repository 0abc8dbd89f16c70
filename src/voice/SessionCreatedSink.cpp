#include "voice/SessionCreatedSink.h"

#include <utility>

SessionCreatedSink::SessionCreatedSink(Handler handler) : m_handler(std::move(handler)) {}

void SessionCreatedSink::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = nullptr;
}

HRESULT STDMETHODCALLTYPE SessionCreatedSink::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IAudioSessionNotification)) {
        *object = static_cast<IAudioSessionNotification*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SessionCreatedSink::AddRef() {
    return ++m_references;
}

ULONG STDMETHODCALLTYPE SessionCreatedSink::Release() {
    const ULONG left = --m_references;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT STDMETHODCALLTYPE SessionCreatedSink::OnSessionCreated(IAudioSessionControl* session) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_handler && session != nullptr) {
        m_handler(session);
    }
    return S_OK;
}
