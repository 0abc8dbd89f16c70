#include "app/Clock.h"

namespace {
std::unique_ptr<Clock>& Installed() {
    static std::unique_ptr<Clock> clock;
    return clock;
}
}  // namespace

std::time_t Clock::Now() {
    static const Clock real;
    const auto& installed = Installed();
    return installed ? installed->now() : real.now();
}

void Clock::Install(std::unique_ptr<Clock> clock) {
    Installed() = std::move(clock);
}

std::time_t Clock::now() const {
    return std::time(nullptr);
}
