#include "support/coreaudio/DoubleEndpoint.h"

#include <audiopolicy.h>

HRESULT STDMETHODCALLTYPE DoubleEndpoint::QueryInterface(REFIID iid, void** object) {
    if (AnswerAs<IUnknown>(this, iid, object) || AnswerAs<IMMDevice>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleEndpoint::Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) {
    if (FAILED(activateResult)) {
        return activateResult;
    }
    if (iid != __uuidof(IAudioSessionManager2)) {
        return E_NOINTERFACE;
    }
    return manager->QueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE DoubleEndpoint::OpenPropertyStore(DWORD, IPropertyStore**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleEndpoint::GetId(LPWSTR*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DoubleEndpoint::GetState(DWORD* state) {
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
}
