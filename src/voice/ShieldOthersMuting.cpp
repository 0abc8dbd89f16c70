#include "voice/ShieldOthersMuting.h"

#include "voice/ShieldOthers.h"

void ShieldOthersMuting::Lower() {
    ShieldOthers(false);
}

void ShieldOthersMuting::Restore() {
    ShieldOthers(true);
}
