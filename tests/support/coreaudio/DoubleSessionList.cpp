#include "support/coreaudio/DoubleSessionList.h"

#include <utility>

DoubleSessionList::DoubleSessionList(std::vector<Microsoft::WRL::ComPtr<DoubleSession>> sessions)
    : m_sessions(std::move(sessions)) {}

HRESULT STDMETHODCALLTYPE DoubleSessionList::QueryInterface(REFIID iid, void** object) {
    if (AnswerAs<IUnknown>(this, iid, object) ||
        AnswerAs<IAudioSessionEnumerator>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleSessionList::GetCount(int* count) {
    *count = static_cast<int>(m_sessions.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleSessionList::GetSession(int index, IAudioSessionControl** session) {
    if (index < 0 || index >= static_cast<int>(m_sessions.size())) {
        return E_INVALIDARG;
    }
    *session = static_cast<IAudioSessionControl2*>(m_sessions[index].Get());
    (*session)->AddRef();
    return S_OK;
}
