#include "support/coreaudio/DoubleDeviceEnumerator.h"

#include "support/coreaudio/DoubleEndpoints.h"

HRESULT STDMETHODCALLTYPE DoubleDeviceEnumerator::QueryInterface(REFIID iid, void** object) {
    if (AnswerAs<IUnknown>(this, iid, object) || AnswerAs<IMMDeviceEnumerator>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleDeviceEnumerator::EnumAudioEndpoints(EDataFlow flow, DWORD,
                                                                     IMMDeviceCollection** list) {
    if (FAILED(listResult)) {
        return listResult;
    }
    *list = MakeDouble<DoubleEndpoints>(flow == eCapture
                                            ? std::vector<Microsoft::WRL::ComPtr<DoubleEndpoint>>()
                                            : endpoints)
                .Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleDeviceEnumerator::GetDefaultAudioEndpoint(EDataFlow, ERole,
                                                                          IMMDevice** endpoint) {
    if (FAILED(listResult)) {
        return listResult;
    }
    if (endpoints.empty()) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    *endpoint = endpoints.front().Get();
    (*endpoint)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleDeviceEnumerator::GetDevice(LPCWSTR, IMMDevice**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE
DoubleDeviceEnumerator::RegisterEndpointNotificationCallback(IMMNotificationClient*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE
DoubleDeviceEnumerator::UnregisterEndpointNotificationCallback(IMMNotificationClient*) {
    return E_NOTIMPL;
}
