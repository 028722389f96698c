#include "audio/RampDecoder.h"

#include <utility>

namespace {

class RampDecoder final : public ISoundDecoder
{
public:
    RampDecoder(std::unique_ptr<ISoundDecoder> inner, std::int64_t rampFrames)
        : m_inner(std::move(inner))
        , m_format(m_inner->Format())
        , m_rampFrames(rampFrames)
    {}

    SoundFormat Format() const override { return m_format; }

    std::int64_t Read(float* buffer, std::int64_t frames) override
    {
        const std::int64_t got = m_inner->Read(buffer, frames);
        // Once at full volume the samples pass untouched: a long ramp costs nothing after its end.
        if (got > 0 && m_done < m_rampFrames) {
            const int channels = m_format.channels;
            for (std::int64_t i = 0; i < got && m_done + i < m_rampFrames; ++i) {
                const float gain = RampGain(m_done + i, m_rampFrames);
                for (int c = 0; c < channels; ++c)
                    buffer[i * channels + c] *= gain;
            }
        }
        if (got > 0)
            m_done += got;
        return got;
    }

    // The ramp is not restarted: a looping sound keeps rising, and stays at full once there.
    bool Rewind() override { return m_inner->Rewind(); }

private:
    std::unique_ptr<ISoundDecoder> m_inner;
    SoundFormat m_format;
    std::int64_t m_rampFrames;
    std::int64_t m_done = 0; // frames delivered so far
};

} // namespace

float RampGain(std::int64_t frame, std::int64_t rampFrames)
{
    if (rampFrames <= 0 || frame >= rampFrames)
        return 1.0f;
    if (frame <= 0)
        return 0.0f;
    const double fraction = static_cast<double>(frame) / static_cast<double>(rampFrames);
    return static_cast<float>(fraction * fraction * fraction);
}

std::unique_ptr<ISoundDecoder> WithRamp(std::unique_ptr<ISoundDecoder> decoder, int rampSeconds)
{
    if (!decoder || rampSeconds <= 0 || decoder->Format().sampleRate <= 0 || decoder->Format().channels <= 0)
        return decoder;
    const std::int64_t frames = static_cast<std::int64_t>(rampSeconds) * decoder->Format().sampleRate;
    return std::make_unique<RampDecoder>(std::move(decoder), frames);
}
