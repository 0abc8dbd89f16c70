#pragma once

#include <string>

#include "support/SpawnedProcess.h"

// The default sound stack of a Debian 12 desktop for one test: PipeWire,
// WirePlumber (which remembers each program's level) and pipewire-pulse,
// headless under a session bus of their own (dbus-run-session; WirePlumber
// ends without one) with their own XDG_RUNTIME_DIR and state in a temporary
// folder. A null sink, loaded through pipewire-pulse, is the default output.
// Start() points PULSE_SERVER of this process at it; Stop() or the destructor
// ends the whole stack.
class PipeWireServer {
public:
    static constexpr const char* kSink = "voice_null";

    PipeWireServer();
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    // False, with the reason, when the stack cannot run here.
    bool Start(std::string* why);
    void Stop();
    // "unix:<folder>/run/pulse/native"
    std::string Address() const;

private:
    std::string m_folder;
    SpawnedProcess m_session;  // dbus-run-session, leader of the stack's process group
    std::string m_previousServer;
    bool m_hadPreviousServer = false;
    bool m_started = false;
    bool m_pointed = false;  // PULSE_SERVER set by Start
};
