#pragma once

#include <memory>
#include <string>

#include "voice/ClipDecoder.h"

typedef struct sf_private_tag SNDFILE;

// wav files through libsndfile, which reads every sample format they come in.
class WavDecoder : public ClipDecoder {
public:
    static std::unique_ptr<WavDecoder> Open(const std::string& path, std::string& error);
    ~WavDecoder() override;
    WavDecoder(const WavDecoder&) = delete;
    WavDecoder& operator=(const WavDecoder&) = delete;

    int Rate() const override { return m_rate; }
    int Channels() const override { return m_channels; }
    size_t Read(float* out, size_t frames) override;
    bool Rewind() override;

private:
    WavDecoder(SNDFILE* file, int rate, int channels);

    SNDFILE* m_file;
    int m_rate;
    int m_channels;
};
