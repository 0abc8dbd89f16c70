#include <mmdeviceapi.h>
#include <objbase.h>
#include <wrl/client.h>

#include <memory>
#include <mutex>

#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "voice/ComApartment.h"
#include "voice/CoreAudioSessions.h"
#include "voice/SavedSessionLevels.h"
#include "voice/SessionShield.h"
#include "voice/ShieldLevelsFile.h"
#include "voice/ShieldOthers.h"

// The Windows side of ShieldOthers: other programs' Core Audio sessions, with
// the policy in SessionShield. Each call joins COM's multithreaded apartment
// for its length and makes its own device enumerator there; while lowered the
// play thread stays in the apartment, as the watch's session managers live in
// it until the restore.
namespace {
constexpr const char* kFileName = "ShieldLevels.txt";

struct ShieldState {
    ShieldLevelsFile file{ShieldLevelsPath()};
    SessionShield shield{file, static_cast<uint32_t>(::GetCurrentProcessId())};
    // Only the play sequence touches it, from Lower to the next Restore.
    std::unique_ptr<ComApartment> heldWhileLowered;
};

ShieldState& State() {
    static ShieldState state;
    return state;
}

Microsoft::WRL::ComPtr<IMMDeviceEnumerator> MakeEnumerator() {
    Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                  IID_PPV_ARGS(&enumerator)))) {
        return nullptr;
    }
    return enumerator;
}

bool Restore(ShieldState& state) {
    ComApartment com;
    if (!com.Usable()) {
        return false;
    }
    // Without an enumerator nothing is reached: the restore fails, keeping
    // the levels, and still ends the watch.
    const auto enumerator = MakeEnumerator();
    CoreAudioSessions sessions(enumerator.Get());
    const bool back = state.shield.Restore(sessions);
    // The watch is gone: the apartment may be left with this call.
    state.heldWhileLowered.reset();
    return back;
}

void Lower(ShieldState& state) {
    ComApartment com;
    if (!com.Usable()) {
        return;
    }
    const auto enumerator = MakeEnumerator();
    if (enumerator == nullptr) {
        return;
    }
    if (!state.heldWhileLowered) {
        state.heldWhileLowered = std::make_unique<ComApartment>();
    }
    CoreAudioSessions sessions(enumerator.Get());
    state.shield.Lower(sessions);
}
}  // namespace

std::string ShieldLevelsPath() {
    return WideToUtf8(GetModuleDir()) + kFileName;
}

void ShieldOthers(bool restore) {
    try {
        ShieldState& state = State();
        if (restore) {
            Restore(state);
        } else {
            Lower(state);
        }
    } catch (...) {
        // Muting is a courtesy: whatever fails, the announcement goes on.
    }
}

void RestoreLevelsLeftLowered() {
    try {
        ShieldState& state = State();
        const std::string text = state.file.Read();
        if (text.empty()) {
            return;
        }
        SavedSessionLevels saved = SavedSessionLevels::FromText(text);
        if (saved.Empty()) {
            state.file.Remove();  // nothing in it to give back
            return;
        }
        state.shield.Adopt(std::move(saved));
        LogHelper* log = LogHelper::GetInstance();
        if (Restore(state)) {
            if (log != nullptr) {
                log->Info("ShieldOthers 已恢复上次运行时降低的其他程序音量。");
            }
        } else if (log != nullptr) {
            log->Error("ShieldOthers 无法恢复上次运行时降低的其他程序音量，播报时将重试。");
        }
    } catch (...) {
        if (LogHelper* log = LogHelper::GetInstance()) {
            log->Error("发生异常 ShieldOthers::RestoreLevelsLeftLowered");
        }
    }
}
