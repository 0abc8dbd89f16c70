#pragma once

#include <functional>

// Hands a completion to the thread its owner wants it on (the main thread in
// the program): workers never call back into the owner's objects themselves.
using Deliver = std::function<void(std::function<void()>)>;
