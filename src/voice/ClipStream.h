#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "voice/ClipDecoder.h"

struct _SDL_AudioStream;

// One clip as the device wants it: stereo float at the device's rate,
// decoded a piece at a time as the device asks for sound. SDL converts rate
// and channels; what it holds between two pieces is a few kilobytes whatever
// the clip's length.
class ClipStream {
public:
    static constexpr int kChannels = 2;

    // nullptr with `error` set when the file cannot be decoded.
    static std::unique_ptr<ClipStream> Open(const std::string& path, int deviceRate,
                                            std::string& error);
    ClipStream(std::unique_ptr<ClipDecoder> decoder, _SDL_AudioStream* stream);
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    // Clips open, over all players: what memory the player holds, clip by clip.
    static int Held();

    // Writes up to `frames` frames to `out`; fewer only once the clip has ended.
    int Pull(float* out, int frames);
    // Back to the start; false when the file cannot be read again.
    bool Rewind();
    // Some sound has been taken since it was opened or rewound.
    bool Started() const { return m_started; }

private:
    // Decodes one more piece into the converter; at the end, lets it give out
    // what it still holds back.
    void Feed();

    std::unique_ptr<ClipDecoder> m_decoder;
    _SDL_AudioStream* m_stream;
    std::vector<float> m_piece;
    bool m_drained = false;
    bool m_started = false;
};
