#pragma once

#include <audiopolicy.h>
#include <wrl/client.h>

#include <vector>

#include "support/coreaudio/ComDouble.h"
#include "support/coreaudio/DoubleSession.h"

// The sessions a manager listed at one moment (IAudioSessionEnumerator).
class DoubleSessionList : public ComDouble, public IAudioSessionEnumerator {
public:
    explicit DoubleSessionList(std::vector<Microsoft::WRL::ComPtr<DoubleSession>> sessions);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return Count(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }
    HRESULT STDMETHODCALLTYPE GetCount(int* count) override;
    HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override;

private:
    std::vector<Microsoft::WRL::ComPtr<DoubleSession>> m_sessions;
};
