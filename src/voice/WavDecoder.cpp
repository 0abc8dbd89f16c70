#include "voice/WavDecoder.h"

#include <sndfile.h>

std::unique_ptr<WavDecoder> WavDecoder::Open(const std::string& path, std::string& error) {
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        return nullptr;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        error = "no audio in file";
        return nullptr;
    }
    return std::unique_ptr<WavDecoder>(new WavDecoder(file, info.samplerate, info.channels));
}

WavDecoder::WavDecoder(SNDFILE* file, int rate, int channels)
    : m_file(file), m_rate(rate), m_channels(channels) {}

WavDecoder::~WavDecoder() {
    sf_close(m_file);
}

size_t WavDecoder::Read(float* out, size_t frames) {
    const sf_count_t read = sf_readf_float(m_file, out, static_cast<sf_count_t>(frames));
    return read > 0 ? static_cast<size_t>(read) : 0;
}

bool WavDecoder::Rewind() {
    return sf_seek(m_file, 0, SEEK_SET) == 0;
}
