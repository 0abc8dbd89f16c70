#pragma once

#include <mmdeviceapi.h>
#include <wrl/client.h>

#include "support/coreaudio/ComDouble.h"
#include "support/coreaudio/DoubleSessionManager.h"

// A render endpoint (IMMDevice) that opens its session manager, or answers
// `activateResult` when that is a failure (an endpoint out of reach, or gone).
class DoubleEndpoint : public ComDouble, public IMMDevice {
public:
    Microsoft::WRL::ComPtr<DoubleSessionManager> manager = MakeDouble<DoubleSessionManager>();
    HRESULT activateResult = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD context, PROPVARIANT* parameters,
                                       void** object) override;
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override;
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override;
};
