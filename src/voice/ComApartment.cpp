#include "voice/ComApartment.h"

#include <objbase.h>

ComApartment::ComApartment() {
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // S_FALSE: joined again, still one reference to give back.
    m_joined = SUCCEEDED(hr);
    m_usable = m_joined || hr == RPC_E_CHANGED_MODE;
}

ComApartment::~ComApartment() {
    if (m_joined) {
        ::CoUninitialize();
    }
}
