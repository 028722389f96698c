#pragma once

#include <cstdint>
#include <memory>
#include <string>

/** Sample rate and channel count of a decoded sound; samples are interleaved 32-bit floats. */
struct SoundFormat {
    int sampleRate = 0;
    int channels = 0;
};

/** A sound file opened for reading from the start; used by one thread at a time. */
class ISoundDecoder
{
public:
    virtual ~ISoundDecoder() = default;
    ISoundDecoder(const ISoundDecoder&) = delete;
    ISoundDecoder& operator=(const ISoundDecoder&) = delete;

    /** Format of the samples Read delivers. */
    virtual SoundFormat Format() const = 0;
    /**
     * Reads up to frames frames into buffer (frames × channels floats); 0 at the end or on a read error.
     * The first read skips a silent lead-in shorter than a second, so the sound is heard at once.
     */
    virtual std::int64_t Read(float* buffer, std::int64_t frames) = 0;
    /** Goes back to the very first frame, lead-in included; false when the file cannot seek. */
    virtual bool Rewind() = 0;

protected:
    ISoundDecoder() = default;
};

/** Result of opening a sound file: a decoder, or an AudioError code. */
struct DecoderResult {
    std::unique_ptr<ISoundDecoder> decoder;
    int error = 0;
};

/** Opens path (UTF-8) with the built-in decoder: wav, aiff/aifc, au, caf, w64, rf64, flac, Ogg Vorbis and Opus,
 * mp1/mp2/mp3. */
DecoderResult OpenSoundFile(const std::string& path);
