#pragma once

#include <string>
#include <vector>

// The clips that speak one cashier message, in order; names are relative to
// the audio folder.
using Announcement = std::vector<std::string>;
