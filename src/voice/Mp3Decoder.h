#pragma once

#include <memory>
#include <string>

#include "voice/ClipDecoder.h"

struct mpg123_handle_struct;

// mp3 files through libmpg123, with the encoder's delay and padding cut off
// (gapless decoding), so that clips follow each other without a click of
// silence between them.
class Mp3Decoder : public ClipDecoder {
public:
    static std::unique_ptr<Mp3Decoder> Open(const std::string& path, std::string& error);
    ~Mp3Decoder() override;
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    int Rate() const override { return m_rate; }
    int Channels() const override { return m_channels; }
    size_t Read(float* out, size_t frames) override;
    bool Rewind() override;

private:
    Mp3Decoder(mpg123_handle_struct* handle, int rate, int channels);

    mpg123_handle_struct* m_handle;
    int m_rate;
    int m_channels;
};
