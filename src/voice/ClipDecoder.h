#pragma once

#include <cstddef>
#include <memory>
#include <string>

// A clip file read a piece at a time as interleaved float samples at the
// file's own rate and channel count, so that no clip is ever held decoded
// whole: a 20-minute mp3 decoded at open cost 420 MB and 2.4 s.
class ClipDecoder {
public:
    virtual ~ClipDecoder() = default;

    // The decoder that the file's first bytes call for (wav by its RIFF
    // header, anything else as mp3); nullptr with `error` set when the file is
    // missing or holds no audio that decoder can read.
    static std::unique_ptr<ClipDecoder> Open(const std::string& path, std::string& error);

    virtual int Rate() const = 0;
    virtual int Channels() const = 0;
    // Decodes up to `frames` frames into `out`; 0 once the clip has ended (a
    // damaged file ends where it cannot be read on).
    virtual size_t Read(float* out, size_t frames) = 0;
    // Back to the first frame; false when the file cannot be read again.
    virtual bool Rewind() = 0;
};
