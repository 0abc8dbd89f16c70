#pragma once

// The program's fixed key for the web API, sent with every POST.
inline constexpr const char* kApiKey = "vkmr582039";
