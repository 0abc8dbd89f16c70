#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <vector>

#include "support/coreaudio/ComDouble.h"
#include "support/coreaudio/DoubleEndpoint.h"

// The endpoints an enumerator listed at one moment (IMMDeviceCollection).
class DoubleEndpoints : public ComDouble, public IMMDeviceCollection {
public:
    explicit DoubleEndpoints(std::vector<Microsoft::WRL::ComPtr<DoubleEndpoint>> endpoints);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** endpoint) override;

private:
    std::vector<Microsoft::WRL::ComPtr<DoubleEndpoint>> m_endpoints;
};
