#pragma once

#include <string>
#include <vector>

// The pause list Audio/Audio.xml: names appended upper-cased; false (logged)
// when the file or its Audios element is missing.
bool GetPauseProList(std::vector<std::string>& names);
bool SavePauseProList(const std::vector<std::string>& names);
