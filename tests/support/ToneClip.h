#pragma once

#include <string>

// Writes a sine tone of the given length with sox; the file's extension picks
// the format (.wav or .mp3). False when sox failed.
bool MakeToneClip(const std::string& path, double seconds, int frequency = 440, int channels = 1);
