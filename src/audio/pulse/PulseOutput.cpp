#include "audio/AudioErrors.h"
#include "audio/SoundOutput.h"
#include "platform/linux/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>

// Sound output through a PulseAudio (or PipeWire pulse) server. Only the asynchronous API is used and
// the caller never waits for the server: connecting and starting a stream go on on the connection's
// loop thread, each with a time limit, so an alarm clock cannot hang because the sound server does.
namespace {

int ErrorOfConnect(int paError)
{
    switch (paError) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
    case PA_ERR_NOENTITY:
        return AudioError::ServerNotFound;
    case PA_ERR_ACCESS:
    case PA_ERR_AUTHKEY:
        return AudioError::ServerAccessDenied;
    case PA_ERR_TIMEOUT:
        return AudioError::ServerTimeout;
    case PA_ERR_INTERNAL:
        return AudioError::AudioSystemFailed;
    default:
        return AudioError::ServerConnectionFailed;
    }
}

class PulseOutput final : public ISoundOutput
{
public:
    explicit PulseOutput(const SoundOutputOptions& options)
        : m_options(options)
        , m_connection("Larkbell")
    {
        if (!m_connection.Running())
            return;
        PulseConnection::Lock lock(m_connection);
        m_connection.SetEventHandlerLocked(
            [this](PulseConnection::Event event, int error) { OnConnectionLocked(event, error); });
    }

    ~PulseOutput() override
    {
        if (m_connection.Running()) {
            PulseConnection::Lock lock(m_connection);
            StopLocked();
            m_listener = nullptr;
        }
        m_connection.Shutdown();
    }

    void SetConnectListener(ConnectListener listener) override
    {
        if (!m_connection.Running()) {
            m_listener = std::move(listener);
            return;
        }
        PulseConnection::Lock lock(m_connection);
        m_listener = std::move(listener);
    }

    int Connect() override
    {
        if (!m_connection.Running())
            return AudioError::AudioSystemFailed;
        PulseConnection::Lock lock(m_connection);
        if (m_connection.ReadyLocked()) {
            TellListenerLocked(AudioError::None);
            return AudioError::None;
        }
        if (!m_connection.ConnectLocked(m_options.connectTimeout))
            return ErrorOfConnect(m_connection.LastErrorLocked());
        return AudioError::None;
    }

    int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        return Begin(std::move(decoder), loop, false);
    }

    int Prepare(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        return Begin(std::move(decoder), loop, true);
    }

    bool StartPrepared() override
    {
        if (!m_connection.Running())
            return false;
        PulseConnection::Lock lock(m_connection);
        if (!m_prepared)
            return false;
        m_prepared = false;
        m_active = true;
        // Still on its way to the server: it is made running instead of paused.
        if (m_stream && PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) {
            if (pa_operation* uncork = pa_stream_cork(m_stream, 0, nullptr, nullptr))
                pa_operation_unref(uncork);
        }
        return true;
    }

    bool IsActive() const override { return m_active; }
    bool HasStarted() const override { return m_started; }
    int LastError() const override { return m_lastError; }

    void Stop() override
    {
        if (!m_connection.Running())
            return;
        PulseConnection::Lock lock(m_connection);
        StopLocked();
    }

private:
    int Begin(std::unique_ptr<ISoundDecoder> decoder, bool loop, bool paused)
    {
        if (!m_connection.Running())
            return AudioError::AudioSystemFailed;
        PulseConnection::Lock lock(m_connection);
        StopLocked();
        m_lastError = AudioError::None;

        const SoundFormat format = decoder->Format();
        m_sampleFormat = pa_sample_spec{};
        m_sampleFormat.format = PA_SAMPLE_FLOAT32NE;
        m_sampleFormat.rate = static_cast<std::uint32_t>(format.sampleRate);
        m_sampleFormat.channels = static_cast<std::uint8_t>(format.channels);
        if (format.channels > static_cast<int>(PA_CHANNELS_MAX) || !pa_sample_spec_valid(&m_sampleFormat) ||
            !pa_channel_map_init_extend(&m_channelMap, m_sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT))
            return AudioError::StreamCreateFailed;

        m_decoder = std::move(decoder);
        m_frameBytes = pa_frame_size(&m_sampleFormat);
        m_repeat = loop;
        m_endOfSound = false;
        m_readSinceRewind = false;
        m_started = false;
        m_prepared = paused;
        m_active = !paused;
        if (m_connection.ReadyLocked()) {
            if (const int error = StartStreamLocked()) {
                StopLocked();
                return error;
            }
            return AudioError::None;
        }
        // The stream is made once the connection is ready (OnConnectionLocked).
        m_waitingForConnection = true;
        if (!m_connection.ConnectLocked(m_options.connectTimeout)) {
            const int error = ErrorOfConnect(m_connection.LastErrorLocked());
            StopLocked();
            return error;
        }
        return AudioError::None;
    }

    void TellListenerLocked(int error)
    {
        if (m_listener)
            m_listener(error);
    }

    void OnConnectionLocked(PulseConnection::Event event, int paError)
    {
        switch (event) {
        case PulseConnection::Event::Ready:
            TellListenerLocked(AudioError::None);
            if (m_waitingForConnection) {
                m_waitingForConnection = false;
                if (const int error = StartStreamLocked())
                    FailLocked(error);
            }
            break;
        case PulseConnection::Event::AttemptFailed:
            TellListenerLocked(ErrorOfConnect(paError));
            if (m_waitingForConnection)
                FailLocked(ErrorOfConnect(paError));
            break;
        case PulseConnection::Event::Lost:
            if (m_active)
                FailLocked(AudioError::ServerLost);
            break;
        }
    }

    // Makes the stream for the decoder Play stored; 0 when it is on its way to the server.
    int StartStreamLocked()
    {
        m_stream = pa_stream_new(m_connection.ContextLocked(), "Alarm sound", &m_sampleFormat, &m_channelMap);
        if (!m_stream)
            return AudioError::StreamCreateFailed;
        pa_stream_set_state_callback(m_stream, &PulseOutput::OnStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseOutput::OnWrite, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(
            static_cast<pa_usec_t>(m_options.bufferLength.count()) * PA_USEC_PER_MSEC, &m_sampleFormat));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // An alarm is heard whatever the server remembers for this program's streams: a mute or a low
        // level someone once set in a mixer would otherwise come back with every new stream. The stream
        // starts unmuted at full stream volume, relative to the sink, so the sink's own volume (which the
        // alarm sets) is what the listener gets, in flat-volume mode too.
        pa_cvolume full;
        pa_cvolume_reset(&full, m_sampleFormat.channels);
        // A prepared stream waits paused with its start buffered at the server, so that the alarm's due
        // second has only to release it.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_UNMUTED |
                                           PA_STREAM_RELATIVE_VOLUME | (m_prepared ? PA_STREAM_START_CORKED : 0));
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, &full, nullptr) < 0)
            return AudioError::StreamConnectFailed;
        m_startTimer.StartLocked(m_options.connectTimeout, [this] {
            if ((m_active || m_prepared) && !m_started)
                FailLocked(m_connection.ReadyLocked() ? AudioError::StreamTimeout : AudioError::ServerLost);
        });
        return AudioError::None;
    }

    void ReleaseStreamLocked()
    {
        m_startTimer.StopLocked();
        m_waitingForConnection = false;
        if (m_drain) {
            pa_operation_cancel(m_drain);
            pa_operation_unref(m_drain);
            m_drain = nullptr;
        }
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
                pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        m_decoder.reset();
    }

    void StopLocked()
    {
        ReleaseStreamLocked();
        m_active = false;
        m_prepared = false;
    }

    // A stream that did not start, or broke, is released at once: should the server wake up later, it must
    // not begin a sound the caller has already been told is not playing.
    void FailLocked(int error)
    {
        ReleaseStreamLocked();
        FinishLocked(error);
    }

    void FinishLocked(int error)
    {
        if (m_active && error != AudioError::None)
            m_lastError = error;
        m_active = false;
        m_prepared = false;
    }

    void FillLocked(pa_stream* stream, std::size_t requested)
    {
        if (!m_decoder || m_endOfSound)
            return;
        void* data = nullptr;
        std::size_t bytes = requested;
        if (pa_stream_begin_write(stream, &data, &bytes) < 0 || !data)
            return;
        const auto frames = static_cast<std::int64_t>(bytes / m_frameBytes);
        const int channels = m_decoder->Format().channels;
        auto* out = static_cast<float*>(data);
        std::int64_t done = 0;
        while (done < frames) {
            const std::int64_t got = m_decoder->Read(out + done * channels, frames - done);
            if (got > 0) {
                done += got;
                m_readSinceRewind = true;
                continue;
            }
            // Loop by seeking back; a file that gives nothing after a rewind ends instead of spinning.
            if (m_repeat && m_readSinceRewind && m_decoder->Rewind()) {
                m_readSinceRewind = false;
                continue;
            }
            m_endOfSound = true;
            break;
        }
        if (done > 0)
            pa_stream_write(stream, data, static_cast<std::size_t>(done) * m_frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        else
            pa_stream_cancel_write(stream);
        // The drain completes when the server has played the last sample, which is when
        // the sound is over for the listener.
        if (m_endOfSound && !m_drain)
            m_drain = pa_stream_drain(stream, &PulseOutput::OnDrained, this);
    }

    static void OnStreamState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<PulseOutput*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            self->m_startTimer.StopLocked();
            self->m_started = true;
            return;
        }
        if (PA_STREAM_IS_GOOD(state))
            return;
        int error = AudioError::ServerLost;
        if (self->m_connection.ReadyLocked())
            error = self->m_started ? AudioError::StreamFailed : AudioError::StreamConnectFailed;
        self->FailLocked(error);
    }

    static void OnWrite(pa_stream* stream, std::size_t bytes, void* userdata)
    {
        static_cast<PulseOutput*>(userdata)->FillLocked(stream, bytes);
    }

    static void OnDrained(pa_stream*, int, void* userdata)
    {
        auto* self = static_cast<PulseOutput*>(userdata);
        if (self->m_drain) {
            pa_operation_unref(self->m_drain);
            self->m_drain = nullptr;
        }
        self->FinishLocked(AudioError::None);
    }

    SoundOutputOptions m_options;
    PulseConnection m_connection; // outlives the members below; its loop thread ends in ~PulseOutput, before they go
    PulseConnection::Timer m_startTimer{m_connection};
    ConnectListener m_listener;
    pa_stream* m_stream = nullptr;
    pa_operation* m_drain = nullptr;
    std::unique_ptr<ISoundDecoder> m_decoder;
    pa_sample_spec m_sampleFormat{};
    pa_channel_map m_channelMap{};
    std::size_t m_frameBytes = 0;
    bool m_repeat = false;
    bool m_waitingForConnection = false; // Play was called before the connection was ready
    bool m_endOfSound = false;
    bool m_readSinceRewind = false; // guards looping over a file that yields no frames
    std::atomic<bool> m_active{false};
    bool m_prepared = false; // a paused stream waits for StartPrepared
    std::atomic<bool> m_started{false};
    std::atomic<int> m_lastError{AudioError::None};
};

} // namespace

std::unique_ptr<ISoundOutput> CreateSoundOutput(const SoundOutputOptions& options)
{
    return std::make_unique<PulseOutput>(options);
}
