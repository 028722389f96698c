#include "audio/AudioErrors.h"
#include "audio/SoundDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

class SndfileDecoder final : public ISoundDecoder
{
public:
    SndfileDecoder(SNDFILE* file, const SF_INFO& info)
        : m_file(file)
        , m_format{info.samplerate, info.channels}
    {}
    ~SndfileDecoder() override { sf_close(m_file); }

    SoundFormat Format() const override { return m_format; }

    std::int64_t Read(float* buffer, std::int64_t frames) override
    {
        if (m_atStart) {
            m_atStart = false;
            if (const std::int64_t got = ReadFromFirstAudibleFrame(buffer, frames))
                return got;
        }
        const sf_count_t got = sf_readf_float(m_file, buffer, frames);
        return got > 0 ? got : 0;
    }

    bool Rewind() override { return sf_seek(m_file, 0, SEEK_SET) == 0; }

private:
    // A file's silent lead-in (an encoder's padding, a pause before the first note: a tenth to a third
    // of a second in the built-in sounds) is heard as the alarm ringing late, so the first read starts
    // at the first audible frame. A longer silence is part of the sound and stays.
    static constexpr double kMaxLeadInSeconds = 1.0;
    static constexpr float kAudible = 0.001f; // -60 dBFS

    // The frames read from the first audible one on; 0 (with the file back at its start) when the
    // lead-in is longer than kMaxLeadInSeconds or the file has nothing audible in it.
    std::int64_t ReadFromFirstAudibleFrame(float* buffer, std::int64_t frames)
    {
        const int channels = m_format.channels;
        const auto limit = static_cast<std::int64_t>(kMaxLeadInSeconds * m_format.sampleRate);
        for (std::int64_t skipped = 0; skipped < limit;) {
            const sf_count_t got = sf_readf_float(m_file, buffer, std::min(frames, limit - skipped));
            if (got <= 0)
                break;
            const float* begin = buffer;
            const float* end = buffer + got * channels;
            const float* audible = std::find_if(begin, end, [](float sample) { return std::fabs(sample) >= kAudible; });
            if (audible != end) {
                const std::int64_t first = (audible - begin) / channels;
                std::memmove(buffer, buffer + first * channels,
                             static_cast<std::size_t>((got - first) * channels) * sizeof(float));
                return got - first;
            }
            skipped += got;
        }
        sf_seek(m_file, 0, SEEK_SET);
        return 0;
    }

    SNDFILE* m_file;
    SoundFormat m_format;
    bool m_atStart = true;
};

int ErrorOfOpen(int sndfileError, const std::string& path)
{
    switch (sndfileError) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        return AudioError::FormatNotRecognised;
    case SF_ERR_UNSUPPORTED_ENCODING:
        return AudioError::EncodingNotSupported;
    case SF_ERR_SYSTEM: {
        // A missing file and an unreadable one both come back as a system error; tell them
        // apart, since the user fixes them differently.
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (!probe)
            return AudioError::FileNotFound;
        std::fclose(probe);
        return AudioError::FileReadFailed;
    }
    default:
        // SF_ERR_MALFORMED_FILE and the library's many detailed codes (short header chunk,
        // zero channels, a decoder that gave up): the file was read but its content is broken.
        return AudioError::FileMalformed;
    }
}

} // namespace

DecoderResult OpenSoundFile(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {nullptr, ErrorOfOpen(sf_error(nullptr), path)};
    if (info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        return {nullptr, AudioError::FileMalformed};
    }
    if (info.frames == 0) {
        sf_close(file);
        return {nullptr, AudioError::FileHasNoAudio};
    }
    // Normalised float reading keeps integer and float files at the same loudness.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    return {std::make_unique<SndfileDecoder>(file, info), AudioError::None};
}
