#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/SpawnedProcess.h"

// A real PulseAudio daemon for one test: its own runtime and state folders in
// a temporary folder, a null sink as the only output, the native protocol on a
// socket of its own, and module-stream-restore as a desktop's server has it.
// Start() points PULSE_SERVER of this process at it (and thereby every child
// started afterwards); Stop() or the destructor ends it.
class PulseServer {
public:
    static constexpr const char* kSink = "voice_null";
    static constexpr int kRecordRate = 8000;  // mono s16 samples per second

    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False (with the reason) when the daemon did not come up.
    bool Start(std::string* error = nullptr);
    void Stop();
    // Ends it as a crash would (SIGKILL), without a word to its clients. Start
    // brings a new daemon up at the same address.
    void Kill();
    // A crash and a new start at the same address `down` later: clients of
    // this process keep looking for this server, not another one, meanwhile.
    bool Restart(std::chrono::milliseconds down, std::string* error = nullptr);
    bool Running() { return m_daemon.Alive(); }
    // Stops the daemon in its tracks (SIGSTOP) or lets it go on: a server that
    // accepts connections and never answers.
    void Freeze();
    void Thaw();
    // "unix:<folder>/native"
    std::string Address() const;
    const std::string& Folder() const { return m_folder; }

    // Records what reaches the null sink, from now until StopRecording.
    bool StartRecording();
    std::vector<int16_t> StopRecording();

private:
    void StopWith(int signal);

    std::string m_folder;
    SpawnedProcess m_daemon;
    SpawnedProcess m_recorder;
    std::string m_recordPath;
    std::string m_previousServer;
    bool m_hadPreviousServer = false;
};

// Whether the Unix socket at the path takes connections: its daemon is up.
bool CanConnectUnix(const std::string& socketPath);

// Seconds from the first to the last 10 ms frame louder than `threshold` (RMS
// of 16-bit samples at PulseServer::kRecordRate); 0 when nothing is.
double SoundingSeconds(const std::vector<int16_t>& samples, double threshold = 500.0);
