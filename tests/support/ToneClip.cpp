#include "support/ToneClip.h"

#include <sys/wait.h>

#include <filesystem>

#include "support/SpawnedProcess.h"

bool MakeToneClip(const std::string& path, double seconds, int frequency, int channels) {
    SpawnedProcess sox;
    if (!sox.Start({"sox", "-n", "-r", "44100", "-c", std::to_string(channels), path, "synth",
                    std::to_string(seconds), "sine", std::to_string(frequency), "vol", "0.5"},
                   {})) {
        return false;
    }
    // Stop() with signal 0 only waits for the exit.
    const int status = sox.Stop(0);
    std::error_code error;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           std::filesystem::file_size(path, error) > 0;
}
