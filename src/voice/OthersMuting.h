#pragma once

// Lowers other programs' audio for the length of a run and gives it back.
// The play thread alone calls it, so an implementation needs no lock for the
// calls themselves. Tests hand in their own to count what the run asked for.
class OthersMuting {
public:
    virtual ~OthersMuting() = default;
    virtual void Lower() = 0;
    // Also called at shutdown whether or not a run lowered: it costs nothing
    // then, and gives back what an earlier restore that failed left lowered.
    virtual void Restore() = 0;
};
