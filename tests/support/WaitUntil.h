#pragma once

#include <functional>

// Polls `done` every 50 ms for up to `seconds`, and once more at the end: a
// guard against hanging, not a speed check. True once `done` held.
bool WaitUntil(const std::function<bool()>& done, int seconds = 60);
