#include "audio/FallbackOutput.h"

#include "audio/AudioErrors.h"
#include "core/mglib/DebugLog.h"

#include <QString>

namespace {

/** Lets two outputs take turns with one decoder: the first one's copy is left alone once it has failed. */
class SharedDecoder final : public ISoundDecoder
{
public:
    explicit SharedDecoder(std::shared_ptr<ISoundDecoder> decoder)
        : m_decoder(std::move(decoder))
    {}
    SoundFormat Format() const override { return m_decoder->Format(); }
    std::int64_t Read(float* buffer, std::int64_t frames) override { return m_decoder->Read(buffer, frames); }
    bool Rewind() override { return m_decoder->Rewind(); }

private:
    std::shared_ptr<ISoundDecoder> m_decoder;
};

class FallbackOutput final : public ISoundOutput
{
public:
    FallbackOutput(std::unique_ptr<ISoundOutput> primary, std::unique_ptr<ISoundOutput> secondary)
        : m_primary(std::move(primary))
        , m_secondary(std::move(secondary))
    {}

    ~FallbackOutput() override
    {
        m_primary->Stop();
        m_secondary->Stop();
    }

    void SetConnectListener(ConnectListener listener) override { m_primary->SetConnectListener(std::move(listener)); }
    int Connect() override { return m_primary->Connect(); }

    int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        m_secondary->Stop();
        m_onSecondary = false;
        m_decoder = std::move(decoder);
        m_loop = loop;
        const int error = m_primary->Play(std::make_unique<SharedDecoder>(m_decoder), loop);
        if (error == AudioError::None || !IsServerFailure(error))
            return error;
        return SwitchToSecondary(error);
    }

    int Prepare(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        m_secondary->Stop();
        m_onSecondary = false;
        m_decoder = std::move(decoder);
        m_loop = loop;
        return m_primary->Prepare(std::make_unique<SharedDecoder>(m_decoder), loop);
    }

    bool StartPrepared() override { return !m_onSecondary && m_primary->StartPrepared(); }

    bool IsActive() const override
    {
        if (m_onSecondary)
            return m_secondary->IsActive();
        if (m_primary->IsActive())
            return true;
        // The primary's thread has let go of the decoder by the time it reports the stream inactive.
        if (m_decoder && IsServerFailure(m_primary->LastError()))
            return SwitchToSecondary(m_primary->LastError()) == AudioError::None && m_secondary->IsActive();
        return false;
    }

    bool HasStarted() const override { return m_onSecondary ? m_secondary->HasStarted() : m_primary->HasStarted(); }

    int LastError() const override
    {
        if (m_onSecondary)
            return m_secondaryError != AudioError::None ? m_secondaryError : m_secondary->LastError();
        return m_primary->LastError();
    }

    void Stop() override
    {
        m_primary->Stop();
        m_secondary->Stop();
        m_decoder.reset();
        m_onSecondary = false;
    }

private:
    int SwitchToSecondary(int why) const
    {
        m_onSecondary = true;
        m_primary->Stop();
        const std::shared_ptr<ISoundDecoder> decoder = std::exchange(m_decoder, nullptr);
        if (!decoder->Rewind()) {
            m_secondaryError = AudioError::FileReadFailed;
            return m_secondaryError;
        }
        m_secondaryError = m_secondary->Play(std::make_unique<SharedDecoder>(decoder), m_loop);
        WriteLog(QStringLiteral("Sound server failed (%1: %2), playing on the sound device: %3")
                     .arg(QString::number(why), QString::fromStdString(AudioErrorText(why)),
                          m_secondaryError == AudioError::None
                              ? QStringLiteral("started")
                              : QString::fromStdString(AudioErrorText(m_secondaryError))));
        return m_secondaryError;
    }

    std::unique_ptr<ISoundOutput> m_primary;
    std::unique_ptr<ISoundOutput> m_secondary;
    // IsActive, which the player polls, is where a failure is first seen and the switch made.
    mutable std::shared_ptr<ISoundDecoder> m_decoder; // the current sound while primary has it
    mutable bool m_onSecondary = false;
    mutable int m_secondaryError = AudioError::None; // secondary refused the sound at once
    bool m_loop = false;
};

} // namespace

bool IsServerFailure(int error)
{
    return error / 100 == 2 || error == AudioError::StreamConnectFailed || error == AudioError::StreamTimeout ||
           error == AudioError::StreamFailed;
}

std::unique_ptr<ISoundOutput> WithFallback(std::unique_ptr<ISoundOutput> primary,
                                           std::unique_ptr<ISoundOutput> secondary)
{
    if (!secondary)
        return primary;
    return std::make_unique<FallbackOutput>(std::move(primary), std::move(secondary));
}
