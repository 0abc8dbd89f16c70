#pragma once

#include <ctime>
#include <memory>

// The wall clock as the program reads it, so that a test can say "the program
// started on 12 March 2019" without touching the real clock.
class Clock {
public:
    virtual ~Clock() = default;

    static std::time_t Now();
    // Replaces the clock; nullptr puts the real one back.
    static void Install(std::unique_ptr<Clock> clock);

protected:
    virtual std::time_t now() const;
};
