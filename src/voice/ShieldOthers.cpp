#include "voice/ShieldOthers.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "voice/PulseSessions.h"
#include "voice/SavedLevels.h"

// How other programs always get their audio back:
// - Levels are kept per stream (by index), whole channel volumes, since one
//   program may play several streams at different levels.
// - The server remembers a program's level (PulseAudio's module-stream-restore,
//   PipeWire's session manager) and setting a stream's level through the
//   client API changes that memory: the lowering would teach it 0 and the
//   program's next stream would start silent. So the remembered entries are
//   read before lowering and written back after the streams are restored.
// - A stream opened while lowered is announced by a subscription to the
//   server's stream events (a polled listing would let it play for up to a
//   pass): it is lowered too and gets its own level, or its program's.
// - Everything saved goes to ShieldLevels.txt before any stream is lowered
//   and the file goes away after a good restore; a failed restore keeps both.
namespace {
constexpr const char* kFileName = "ShieldLevels.txt";

struct ShieldState {
    // The watch's thread adds streams while the play sequence may restore.
    std::mutex mutex;
    SavedLevels saved;  // guarded by mutex
    // Whether the server lists all it remembers (PulseAudio) or not
    // (PipeWire), as its last answer said; guarded by mutex.
    bool serverListsAll = true;
    // Only the play sequence (under its own lock) and the start-up touch it;
    // never reset with `mutex` held, as its callback takes that lock.
    std::unique_ptr<PulseWatch> watch;
};

ShieldState& State() {
    static ShieldState state;
    return state;
}

uint32_t Self() {
    return static_cast<uint32_t>(::getpid());
}

bool IsSilent(const std::vector<uint32_t>& volume) {
    return std::all_of(volume.begin(), volume.end(), [](uint32_t v) { return v == 0; });
}

bool SameStream(const PulseStream& saved, const PulseStream& found) {
    // Indexes are reused (PipeWire) and start over when the server restarts.
    return saved.restoreKey == found.restoreKey && saved.processId == found.processId;
}

void WriteLevelsFile(const SavedLevels& saved) {
    // A folder that cannot be written costs the crash protection only.
    WriteFileAtomically(ShieldLevelsPath(), saved.ToText());
}

// What the server remembered for the programs of `streams` that have no
// entry saved yet. Where the server cannot tell (PipeWire), the level the
// program's stream has is the best account of it.
void SaveRemembered(SavedLevels& saved, bool& serverListsAll,
                    const std::vector<const PulseStream*>& streams) {
    std::vector<const PulseStream*> fresh;
    for (const PulseStream* stream : streams) {
        if (!stream->restoreKey.empty() && saved.remembered.count(stream->restoreKey) == 0) {
            fresh.push_back(stream);
        }
    }
    if (fresh.empty()) {
        return;
    }
    std::vector<RememberedLevel> levels;
    bool complete = true;
    if (!PulseSessions::Instance().ReadRemembered(levels, complete)) {
        return;
    }
    serverListsAll = complete;
    for (const PulseStream* stream : fresh) {
        if (saved.remembered.count(stream->restoreKey) != 0) {
            continue;  // a program with two new streams: the first one's
        }
        if (complete) {
            const auto it = std::find_if(
                levels.begin(), levels.end(),
                [stream](const RememberedLevel& level) { return level.key == stream->restoreKey; });
            if (it != levels.end()) {
                saved.remembered[it->key] = *it;
            }
        } else {
            saved.remembered[stream->restoreKey] = {stream->restoreKey, stream->volume,
                                                    stream->channelMap, stream->muted, ""};
        }
    }
}

// PipeWire gives a new stream its level in steps after announcing it (0
// first, then the client's or the remembered one): read again until two
// readings agree, briefly, so that a new program's own level is the one saved.
PulseStream Settled(const PulseStream& first) {
    PulseStream last = first;
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::vector<PulseStream> streams;
        if (!PulseSessions::Instance().List(streams)) {
            break;
        }
        const auto found = std::find_if(streams.begin(), streams.end(), [&](const PulseStream& s) {
            return s.index == first.index && SameStream(s, first);
        });
        if (found == streams.end()) {
            break;  // gone already
        }
        const bool agrees = found->volume == last.volume && !IsSilent(found->volume);
        last = *found;
        if (agrees) {
            break;
        }
    }
    return last;
}

// On the watch's thread: a stream that appeared while others are lowered.
void OnStreamAdded(const PulseStream& added) {
    if (added.processId == Self()) {
        return;
    }
    ShieldState& state = State();
    bool settle = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        settle = !state.serverListsAll &&
                 state.saved.LevelFor(added.restoreKey, added.volume.size()).empty();
    }
    const PulseStream stream = settle ? Settled(added) : added;
    std::lock_guard<std::mutex> lock(state.mutex);
    const auto known = state.saved.streams.find(stream.index);
    if (known != state.saved.streams.end() && SameStream(known->second, stream)) {
        return;  // listed by the lowering already
    }
    PulseStream record = stream;
    std::vector<uint32_t> programLevel =
        state.saved.LevelFor(stream.restoreKey, stream.volume.size());
    // A stream that started at the 0 the server learnt from the lowering gets
    // its program's level. PipeWire's session manager applies the remembered
    // level a moment after the stream appears, so there what the new stream
    // shows is not its own yet, and its program's level is the one it gets.
    if (!programLevel.empty() && (IsSilent(stream.volume) || !state.serverListsAll)) {
        record.volume = std::move(programLevel);
    }
    state.saved.streams[record.index] = record;
    SaveRemembered(state.saved, state.serverListsAll, {&record});
    WriteLevelsFile(state.saved);
    PulseSessions::Instance().SetVolumes(
        {{record.index, std::vector<uint32_t>(record.volume.size(), 0)}});
}

bool Restore() {
    ShieldState& state = State();
    state.watch.reset();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.saved.Empty()) {
        return true;
    }
    PulseSessions& sessions = PulseSessions::Instance();
    std::vector<PulseStream> streams;
    if (!sessions.List(streams)) {
        return false;
    }
    std::vector<PulseSessions::Change> changes;
    for (const PulseStream& stream : streams) {
        if (stream.processId == Self()) {
            continue;
        }
        const auto saved = state.saved.streams.find(stream.index);
        if (saved != state.saved.streams.end() && SameStream(saved->second, stream)) {
            changes.push_back(
                {stream.index, FitChannels(saved->second.volume, stream.volume.size())});
        } else if (IsSilent(stream.volume)) {
            // Silent because the server remembered the lowering's 0 for its
            // program (opened unseen, or after a server restart).
            std::vector<uint32_t> level =
                state.saved.LevelFor(stream.restoreKey, stream.volume.size());
            if (!level.empty()) {
                changes.push_back({stream.index, std::move(level)});
            }
        }
    }
    const bool streamsBack = sessions.SetVolumes(changes);
    // After the streams: restoring them taught the server their levels. Written
    // whatever became of the streams, since a program whose stream ended
    // during the run has only this to start its next one at its own level.
    std::vector<RememberedLevel> remembered;
    for (const auto& [key, level] : state.saved.remembered) {
        remembered.push_back(level);
    }
    const bool rememberedBack = sessions.WriteRemembered(remembered);
    if (!streamsBack || !rememberedBack) {
        return false;  // the file stays for the next try
    }
    state.saved.Clear();
    ::unlink(ShieldLevelsPath().c_str());
    return true;
}

void LowerLocked(ShieldState& state) {
    SavedLevels& saved = state.saved;
    PulseSessions& sessions = PulseSessions::Instance();
    std::vector<PulseStream> streams;
    if (!sessions.List(streams)) {
        return;
    }
    std::vector<const PulseStream*> others;
    for (const PulseStream& stream : streams) {
        if (stream.processId != Self() && !stream.volume.empty()) {
            others.push_back(&stream);
        }
    }
    if (others.empty()) {
        return;
    }
    for (const PulseStream* stream : others) {
        // Levels still waiting for a restore that failed are not replaced by
        // the zeros it left.
        saved.streams.try_emplace(stream->index, *stream);
    }
    SaveRemembered(saved, state.serverListsAll, others);
    WriteLevelsFile(saved);
    std::vector<PulseSessions::Change> changes;
    for (const PulseStream* stream : others) {
        changes.push_back({stream->index, std::vector<uint32_t>(stream->volume.size(), 0)});
    }
    // A stream that vanished meanwhile fails alone; the others are changed.
    sessions.SetVolumes(changes);
}

void Lower() {
    ShieldState& state = State();
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        pending = !state.saved.Empty();
    }
    if (pending) {
        Restore();
    }
    // Watching first, so that no stream opened during the lowering is missed;
    // it goes on when nothing plays yet, for what starts during the run.
    state.watch = PulseSessions::Instance().Watch(&OnStreamAdded);
    std::lock_guard<std::mutex> lock(state.mutex);
    LowerLocked(state);
}
}  // namespace

std::string ShieldLevelsPath() {
    return WideToUtf8(GetModuleDir()) + kFileName;
}

void ShieldOthers(bool restore) {
    try {
        if (restore) {
            Restore();
        } else {
            Lower();
        }
    } catch (...) {
        // Muting is a courtesy: whatever fails, the announcement goes on.
    }
}

void RestoreLevelsLeftLowered() {
    try {
        std::ifstream in(ShieldLevelsPath(), std::ios::binary);
        if (!in) {
            return;
        }
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        {
            ShieldState& state = State();
            std::lock_guard<std::mutex> lock(state.mutex);
            state.saved = SavedLevels::FromText(text);
            if (state.saved.Empty()) {
                ::unlink(ShieldLevelsPath().c_str());  // nothing in it to give back
                return;
            }
        }
        LogHelper* log = LogHelper::GetInstance();
        if (Restore()) {
            if (log != nullptr) {
                log->Info("ShieldOthers 已恢复上次运行时降低的其他程序音量。");
            }
        } else if (log != nullptr) {
            log->Error("ShieldOthers 无法恢复上次运行时降低的其他程序音量，播报时将重试。");
        }
    } catch (...) {
        if (LogHelper* log = LogHelper::GetInstance()) {
            log->Error("发生异常 ShieldOthers::RestoreLevelsLeftLowered");
        }
    }
}
