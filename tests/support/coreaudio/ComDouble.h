#pragma once

#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <utility>

// Reference counting for the doubles of Core Audio's interfaces: made with
// MakeDouble (one reference, the ComPtr's), gone at the last Release.
class ComDouble {
public:
    ULONG Count() { return ++m_references; }
    ULONG Drop() {
        const ULONG left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    virtual ~ComDouble() = default;

private:
    std::atomic<ULONG> m_references{1};
};

template <typename T, typename... Args>
Microsoft::WRL::ComPtr<T> MakeDouble(Args&&... args) {
    Microsoft::WRL::ComPtr<T> made;
    made.Attach(new T(std::forward<Args>(args)...));
    return made;
}

// QueryInterface's answer for `iid` when the double is that interface.
template <typename Interface, typename Self>
bool AnswerAs(Self* self, REFIID iid, void** object) {
    if (iid != __uuidof(Interface)) {
        return false;
    }
    *object = static_cast<Interface*>(self);
    self->AddRef();
    return true;
}
