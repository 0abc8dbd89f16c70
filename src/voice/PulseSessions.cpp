#include "voice/PulseSessions.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>

#include <charconv>
#include <cstring>

namespace {
using SteadyClock = std::chrono::steady_clock;

std::unique_ptr<PulseSessions>& Installed() {
    static std::unique_ptr<PulseSessions> instance;
    return instance;
}

uint32_t ParseProcessId(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    uint32_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, value);
    return error == std::errc() && last == end ? value : 0;
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
    if (info == nullptr || !info->has_volume || !info->volume_writable) {
        return;  // a stream without a volume of its own cannot be lowered
    }
    PulseStream stream;
    stream.index = info->index;
    stream.processId =
        ParseProcessId(pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID));
    stream.volume.assign(info->volume.values, info->volume.values + info->volume.channels);
    state->streams->push_back(std::move(stream));
}

struct SetState {
    int pending = 0;
    bool failed = false;
};

void OnVolumeSet(pa_context* /*context*/, int success, void* user) {
    auto* state = static_cast<SetState*>(user);
    --state->pending;
    if (!success) {
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
