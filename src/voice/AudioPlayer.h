#pragma once

#include <functional>
#include <string>

// The audio output seen by PlayHelper: one clip at a time, asynchronous play,
// and a callback at the natural end of the clip being played. The callback is
// never called from inside one of these calls, nor with a lock of the audio
// library held, so it may call them itself. A clip cut short (Stop, Close,
// another Open or Play) reports no end.
//
// Joins without silence: when the clip being played ends and a clip was
// opened ahead, the player goes straight on with that clip, from the sample
// where the first ended, before the end is reported. The owner then does
// what it would anyway: Stop and Close leave that clip sounding, and Open of
// its path takes it over where it is, so that the following Play only makes
// it the clip being played (its end is reported as usual, at once if it has
// already ended). Open of another path, Play without an Open, OpenAhead and
// DropAhead end it instead.
class AudioPlayer {
public:
    using EndCallback = std::function<void()>;
    virtual ~AudioPlayer() = default;

    virtual void SetEndCallback(EndCallback callback) = 0;
    // Percent per channel, 0..100.
    virtual void SetVolume(unsigned left, unsigned right) = 0;
    virtual void Stop() = 0;
    // Opens a wav or mp3 file (format detected from the file); false on failure.
    // A file opened ahead under the same path is taken as it is, without file
    // work, and so is one the player already went on with (see above).
    virtual bool Open(const std::string& path) = 0;
    // Opens the clip that is to follow the one playing, while that one plays,
    // replacing any clip opened ahead before. False when it cannot be read
    // (Open then fails and says why). It is held until an Open takes it (once:
    // a later Open of the same path reads the file again), another OpenAhead
    // or DropAhead replaces it, or the player goes.
    virtual bool OpenAhead(const std::string& /*path*/) { return false; }
    // Frees a clip opened ahead that will not be played.
    virtual void DropAhead() {}
    // Starts playback of the open file and returns at once; false when it could
    // not start (then no end will be reported).
    virtual bool Play() = 0;
    // Text describing the last failure.
    virtual std::string LastError() const = 0;
    // Releases the open file.
    virtual void Close() = 0;
    // True once the output device has stopped taking sound (its server went
    // away): this player stays silent from then on and needs replacing.
    virtual bool DeviceLost() const { return false; }
};
