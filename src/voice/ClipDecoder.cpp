#include "voice/ClipDecoder.h"

#include <cstring>
#include <fstream>

#include "voice/Mp3Decoder.h"
#include "voice/WavDecoder.h"

namespace {
// The content decides, not the name: the audio pack holds mp3 files named .wav.
bool LooksLikeWav(const std::string& path, bool& readable) {
    std::ifstream in(path, std::ios::binary);
    readable = static_cast<bool>(in);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    return in.gcount() == 4 &&
           (std::memcmp(magic, "RIFF", 4) == 0 || std::memcmp(magic, "RIFX", 4) == 0 ||
            std::memcmp(magic, "RF64", 4) == 0);
}
}  // namespace

std::unique_ptr<ClipDecoder> ClipDecoder::Open(const std::string& path, std::string& error) {
    bool readable = false;
    const bool wav = LooksLikeWav(path, readable);
    if (!readable) {
        error = "cannot open " + path;
        return nullptr;
    }
    if (wav) {
        return WavDecoder::Open(path, error);
    }
    return Mp3Decoder::Open(path, error);
}
