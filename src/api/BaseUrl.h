#pragma once

#include <string>

// Base URL of the web API: `url` of the settings when set, otherwise the
// built-in default (CMake option VOICE_DEFAULT_API_URL). No trailing '/'.
std::string GetBaseUrl();
