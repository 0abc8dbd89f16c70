#include "voice/ClipStream.h"

#include <SDL2/SDL.h>

namespace {
// About one mp3 frame: small enough to decode inside one device buffer.
constexpr size_t kPieceFrames = 1152;
constexpr int kFrameBytes = ClipStream::kChannels * static_cast<int>(sizeof(float));

std::atomic<int> s_held{0};
}  // namespace

std::unique_ptr<ClipStream> ClipStream::Open(const std::string& path, int deviceRate,
                                             std::string& error) {
    std::unique_ptr<ClipDecoder> decoder = ClipDecoder::Open(path, error);
    if (!decoder) {
        return nullptr;
    }
    SDL_AudioStream* stream =
        SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(decoder->Channels()), decoder->Rate(),
                           AUDIO_F32SYS, kChannels, deviceRate);
    if (stream == nullptr) {
        error = SDL_GetError();
        return nullptr;
    }
    return std::make_unique<ClipStream>(std::move(decoder), stream);
}

ClipStream::ClipStream(std::unique_ptr<ClipDecoder> decoder, SDL_AudioStream* stream)
    : m_decoder(std::move(decoder)),
      m_stream(stream),
      m_piece(kPieceFrames * static_cast<size_t>(m_decoder->Channels())) {
    ++s_held;
}

ClipStream::~ClipStream() {
    SDL_FreeAudioStream(m_stream);
    --s_held;
}

int ClipStream::Held() {
    return s_held.load();
}

void ClipStream::Feed() {
    const size_t frames = m_decoder->Read(m_piece.data(), kPieceFrames);
    if (frames == 0) {
        SDL_AudioStreamFlush(m_stream);
        m_drained = true;
        return;
    }
    const size_t bytes = frames * static_cast<size_t>(m_decoder->Channels()) * sizeof(float);
    if (SDL_AudioStreamPut(m_stream, m_piece.data(), static_cast<int>(bytes)) != 0) {
        // Out of memory in the converter: end the clip rather than loop.
        m_drained = true;
    }
}

int ClipStream::Pull(float* out, int frames) {
    m_started = true;
    int got = 0;
    while (got < frames) {
        const int wanted = (frames - got) * kFrameBytes;
        if (!m_drained && SDL_AudioStreamAvailable(m_stream) < wanted) {
            Feed();
            continue;
        }
        const int bytes = SDL_AudioStreamGet(m_stream, out + got * kChannels, wanted);
        if (bytes <= 0) {
            break;
        }
        got += bytes / kFrameBytes;
    }
    return got;
}

bool ClipStream::Rewind() {
    SDL_AudioStreamClear(m_stream);
    m_drained = false;
    m_started = false;
    return m_decoder->Rewind();
}
