#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <vector>

#include "support/coreaudio/ComDouble.h"
#include "support/coreaudio/DoubleEndpoint.h"

// The device enumerator (IMMDeviceEnumerator) over `endpoints`, all active
// render endpoints, the first the default; `listResult` when a failure is what
// listing them answers.
class DoubleDeviceEnumerator : public ComDouble, public IMMDeviceEnumerator {
public:
    std::vector<Microsoft::WRL::ComPtr<DoubleEndpoint>> endpoints;
    HRESULT listResult = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states,
                                                 IMMDeviceCollection** list) override;
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                      IMMDevice** endpoint) override;
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** endpoint) override;
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient* client) override;
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override;
};
