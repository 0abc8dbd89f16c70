#include "voice/Mp3Decoder.h"

#include <mpg123.h>

std::unique_ptr<Mp3Decoder> Mp3Decoder::Open(const std::string& path, std::string& error) {
    // A no-op since mpg123 1.27, needed before it; safe to call again.
    static const int initialised = mpg123_init();
    int status = initialised;
    mpg123_handle* handle = status == MPG123_OK ? mpg123_new(nullptr, &status) : nullptr;
    if (handle == nullptr) {
        error = mpg123_plain_strerror(status);
        return nullptr;
    }
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT | MPG123_GAPLESS, 0);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    // The format comes with the first frame: a file without one is no mp3.
    if (mpg123_open(handle, path.c_str()) != MPG123_OK ||
        mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels <= 0) {
        error = std::string("no mp3 audio in file: ") + mpg123_strerror(handle);
        mpg123_delete(handle);
        return nullptr;
    }
    // Held to the first frame's format; a file that changes it midway is
    // converted by mpg123 rather than read as noise.
    mpg123_format_none(handle);
    mpg123_format(handle, rate, channels, MPG123_ENC_FLOAT_32);
    return std::unique_ptr<Mp3Decoder>(new Mp3Decoder(handle, static_cast<int>(rate), channels));
}

Mp3Decoder::Mp3Decoder(mpg123_handle_struct* handle, int rate, int channels)
    : m_handle(handle), m_rate(rate), m_channels(channels) {}

Mp3Decoder::~Mp3Decoder() {
    mpg123_delete(m_handle);
}

size_t Mp3Decoder::Read(float* out, size_t frames) {
    const size_t frameBytes = sizeof(float) * static_cast<size_t>(m_channels);
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    size_t filled = 0;
    while (filled < frames * frameBytes) {
        size_t done = 0;
        const int status =
            mpg123_read(m_handle, bytes + filled, frames * frameBytes - filled, &done);
        filled += done;
        if (status == MPG123_NEW_FORMAT || (status == MPG123_OK && done > 0)) {
            continue;
        }
        break;  // the end, or damage that ends the clip here
    }
    return filled / frameBytes;
}

bool Mp3Decoder::Rewind() {
    return mpg123_seek(m_handle, 0, SEEK_SET) >= 0;
}
