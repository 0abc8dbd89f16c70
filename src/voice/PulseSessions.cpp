#include "voice/PulseSessions.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>

#include <pulse/ext-stream-restore.h>

#include <cstring>

namespace {
using SteadyClock = std::chrono::steady_clock;

std::unique_ptr<PulseSessions>& Installed() {
    static std::unique_ptr<PulseSessions> instance;
    return instance;
}

// One short-lived connection with its own main loop, run on the calling
// thread: nothing is left behind between calls, and every wait is bounded by
// the deadline fixed when the connection was made.
class Connection {
public:
    Connection() : m_deadline(SteadyClock::now() + PulseSessions::kDeadline) {
        m_loop = pa_mainloop_new();
        if (m_loop == nullptr) {
            return;
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Voice audio sessions");
        m_context = pa_context_new_with_proplist(pa_mainloop_get_api(m_loop), nullptr, props);
        pa_proplist_free(props);
    }

    ~Connection() {
        for (pa_operation* operation : m_operations) {
            // Cancelled first, so no callback can reach the caller's state later.
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
        if (m_context != nullptr) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop != nullptr) {
            pa_mainloop_free(m_loop);
        }
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Connect() {
        if (m_context == nullptr ||
            pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return false;
        }
        return RunUntil([this] { return pa_context_get_state(m_context) == PA_CONTEXT_READY; });
    }

    pa_context* Context() const { return m_context; }

    // Keeps the operation until the connection ends; false when it was refused.
    bool Track(pa_operation* operation) {
        if (operation == nullptr) {
            return false;
        }
        m_operations.push_back(operation);
        return true;
    }

    template <typename Done>
    bool RunUntil(Done done) {
        while (!done()) {
            const pa_context_state_t state = pa_context_get_state(m_context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                m_deadline - SteadyClock::now());
            if (left.count() <= 0) {
                return false;
            }
            if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(m_loop) < 0 || pa_mainloop_dispatch(m_loop) < 0) {
                return false;
            }
        }
        return true;
    }

private:
    SteadyClock::time_point m_deadline;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    std::vector<pa_operation*> m_operations;
};

struct ListState {
    std::vector<PulseStream>* streams = nullptr;
    bool done = false;
    bool failed = false;
};

void OnSinkInput(pa_context* /*context*/, const pa_sink_input_info* info, int eol, void* user) {
    auto* state = static_cast<ListState*>(user);
    if (eol != 0) {
        state->failed = eol < 0;
        state->done = true;
        return;
    }
    PulseStream stream;
    if (info != nullptr && PulseStream::FromInfo(*info, stream)) {
        state->streams->push_back(std::move(stream));
    }
}

struct SetState {
    int pending = 0;
    bool failed = false;
};

struct ReadState {
    std::vector<RememberedLevel> levels;
    bool done = false;
    bool failed = false;
    bool missing = false;  // the server has no stream-restore extension
    std::string serverName;
    bool serverKnown = false;
};

void OnRemembered(pa_context* context, const pa_ext_stream_restore_info* info, int eol,
                  void* user) {
    auto* state = static_cast<ReadState*>(user);
    if (eol != 0) {
        state->missing = eol < 0 && pa_context_errno(context) == PA_ERR_NOEXTENSION;
        state->failed = eol < 0 && !state->missing;
        state->done = true;
        return;
    }
    if (info == nullptr || info->name == nullptr) {
        return;
    }
    RememberedLevel level;
    level.key = info->name;
    if (pa_cvolume_valid(&info->volume) != 0 && pa_channel_map_valid(&info->channel_map) != 0 &&
        info->volume.channels == info->channel_map.channels) {
        level.volume.assign(info->volume.values, info->volume.values + info->volume.channels);
        char map[PA_CHANNEL_MAP_SNPRINT_MAX];
        level.channelMap = pa_channel_map_snprint(map, sizeof map, &info->channel_map);
    }
    level.muted = info->mute != 0;
    level.device = info->device != nullptr ? info->device : "";
    state->levels.push_back(std::move(level));
}

void OnServerInfo(pa_context* /*context*/, const pa_server_info* info, void* user) {
    auto* state = static_cast<ReadState*>(user);
    state->serverName = info != nullptr && info->server_name != nullptr ? info->server_name : "";
    state->serverKnown = true;
}

void OnDone(pa_context* /*context*/, int success, void* user) {
    auto* state = static_cast<SetState*>(user);
    --state->pending;
    if (!success) {
        state->failed = true;
    }
}

// A stream that ended between the listing and the change has nothing left to
// set: that is not a failure, and must not hold up the rest of a restore.
void OnVolumeSet(pa_context* context, int success, void* user) {
    auto* state = static_cast<SetState*>(user);
    --state->pending;
    if (!success && pa_context_errno(context) != PA_ERR_NOENTITY) {
        state->failed = true;
    }
}
}  // namespace

PulseSessions& PulseSessions::Instance() {
    static PulseSessions real;
    auto& installed = Installed();
    return installed ? *installed : real;
}

void PulseSessions::Install(std::unique_ptr<PulseSessions> instance) {
    Installed() = std::move(instance);
}

bool PulseSessions::List(std::vector<PulseStream>& streams) {
    Connection connection;
    if (!connection.Connect()) {
        return false;
    }
    std::vector<PulseStream> found;
    ListState state;
    state.streams = &found;
    if (!connection.Track(
            pa_context_get_sink_input_info_list(connection.Context(), &OnSinkInput, &state))) {
        return false;
    }
    if (!connection.RunUntil([&state] { return state.done; }) || state.failed) {
        return false;
    }
    streams = std::move(found);
    return true;
}

bool PulseSessions::SetVolumes(const std::vector<Change>& changes) {
    if (changes.empty()) {
        return true;
    }
    Connection connection;
    if (!connection.Connect()) {
        return false;
    }
    SetState state;
    for (const Change& change : changes) {
        if (change.volume.empty() || change.volume.size() > PA_CHANNELS_MAX) {
            state.failed = true;
            continue;
        }
        pa_cvolume volume{};
        volume.channels = static_cast<uint8_t>(change.volume.size());
        for (size_t i = 0; i < change.volume.size(); ++i) {
            volume.values[i] = change.volume[i];
        }
        if (!pa_cvolume_valid(&volume)) {
            state.failed = true;
            continue;
        }
        if (connection.Track(pa_context_set_sink_input_volume(connection.Context(), change.index,
                                                              &volume, &OnVolumeSet, &state))) {
            ++state.pending;
        } else {
            state.failed = true;
        }
    }
    if (!connection.RunUntil([&state] { return state.pending == 0; })) {
        return false;
    }
    return !state.failed;
}

bool PulseSessions::ReadRemembered(std::vector<RememberedLevel>& levels, bool& complete) {
    Connection connection;
    if (!connection.Connect()) {
        return false;
    }
    ReadState state;
    if (!connection.Track(
            pa_context_get_server_info(connection.Context(), &OnServerInfo, &state)) ||
        !connection.Track(
            pa_ext_stream_restore_read(connection.Context(), &OnRemembered, &state))) {
        return false;
    }
    if (!connection.RunUntil([&state] { return state.done && state.serverKnown; }) ||
        state.failed) {
        return false;
    }
    levels = std::move(state.levels);
    // Told by name: PipeWire's listing looks like PulseAudio's, only partial.
    complete = state.missing || state.serverName.find("PipeWire") == std::string::npos;
    return true;
}

bool PulseSessions::WriteRemembered(const std::vector<RememberedLevel>& levels) {
    if (levels.empty()) {
        return true;
    }
    Connection connection;
    if (!connection.Connect()) {
        return false;
    }
    std::vector<pa_ext_stream_restore_info> infos;
    for (const RememberedLevel& level : levels) {
        pa_ext_stream_restore_info info{};
        info.name = level.key.c_str();
        if (!level.volume.empty() && level.volume.size() <= PA_CHANNELS_MAX &&
            pa_channel_map_parse(&info.channel_map, level.channelMap.c_str()) != nullptr &&
            info.channel_map.channels == level.volume.size()) {
            info.volume.channels = info.channel_map.channels;
            for (size_t i = 0; i < level.volume.size(); ++i) {
                info.volume.values[i] = level.volume[i];
            }
        } else {
            // An entry without a level stays one.
            pa_channel_map_init(&info.channel_map);
            pa_cvolume_init(&info.volume);
        }
        info.mute = level.muted ? 1 : 0;
        info.device = level.device.empty() ? nullptr : level.device.c_str();
        infos.push_back(info);
    }
    SetState state;
    // Not applied to the streams playing now: each of them has its own level back already.
    if (!connection.Track(
            pa_ext_stream_restore_write(connection.Context(), PA_UPDATE_REPLACE, infos.data(),
                                        static_cast<unsigned>(infos.size()), 0, &OnDone, &state))) {
        return false;
    }
    ++state.pending;
    if (!connection.RunUntil([&state] { return state.pending == 0; }) || state.failed) {
        return false;
    }
    // PipeWire's pulse server acknowledges the write before it has passed it
    // on to its session manager, and a connection closed at once can take the
    // write with it (about one restore in five). One more round trip lets the
    // server finish its turn first.
    ReadState after;
    return connection.Track(
               pa_context_get_server_info(connection.Context(), &OnServerInfo, &after)) &&
           connection.RunUntil([&after] { return after.serverKnown; });
}

std::unique_ptr<PulseWatch> PulseSessions::Watch(PulseWatch::Added added) {
    return PulseWatch::Start(std::move(added));
}
