#include "voice/PulseStream.h"

#include <pulse/channelmap.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <charconv>
#include <cstring>

namespace {
uint32_t ParseProcessId(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    uint32_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, value);
    return error == std::errc() && last == end ? value : 0;
}
}  // namespace

bool PulseStream::FromInfo(const pa_sink_input_info& info, PulseStream& stream) {
    if (!info.has_volume || !info.volume_writable || info.volume.channels == 0) {
        return false;
    }
    stream.index = info.index;
    stream.processId =
        ParseProcessId(pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID));
    stream.volume.assign(info.volume.values, info.volume.values + info.volume.channels);
    stream.muted = info.mute != 0;
    char map[PA_CHANNEL_MAP_SNPRINT_MAX];
    stream.channelMap = pa_channel_map_valid(&info.channel_map) != 0
                            ? pa_channel_map_snprint(map, sizeof map, &info.channel_map)
                            : "";
    // Both PulseAudio's stream-restore module and PipeWire's pulse server
    // name the entry they use on the stream itself, so the rule by which
    // they pick it (role, application id, name, ...) is theirs alone.
    const char* key = pa_proplist_gets(info.proplist, "module-stream-restore.id");
    stream.restoreKey = key != nullptr ? key : "";
    return true;
}
