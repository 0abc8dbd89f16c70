#pragma once

#include "voice/OthersMuting.h"

// The program's muting: every other program's streams on the audio server
// (ShieldOthers).
class ShieldOthersMuting : public OthersMuting {
public:
    void Lower() override;
    void Restore() override;
};
