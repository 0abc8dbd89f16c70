#include "support/coreaudio/DoubleEndpoints.h"

#include <utility>

DoubleEndpoints::DoubleEndpoints(std::vector<Microsoft::WRL::ComPtr<DoubleEndpoint>> endpoints)
    : m_endpoints(std::move(endpoints)) {}

HRESULT STDMETHODCALLTYPE DoubleEndpoints::QueryInterface(REFIID iid, void** object) {
    if (AnswerAs<IUnknown>(this, iid, object) || AnswerAs<IMMDeviceCollection>(this, iid, object)) {
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE DoubleEndpoints::GetCount(UINT* count) {
    *count = static_cast<UINT>(m_endpoints.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DoubleEndpoints::Item(UINT index, IMMDevice** endpoint) {
    if (index >= m_endpoints.size()) {
        return E_INVALIDARG;
    }
    *endpoint = m_endpoints[index].Get();
    (*endpoint)->AddRef();
    return S_OK;
}
