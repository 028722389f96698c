#include "AudioErrors.h"
#include "SoundOutput.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>

// Sound output through a PulseAudio (or PipeWire pulse) server. Only the asynchronous API is
// used, and every wait for the server is bounded: the blocking convenience API waits for ever
// on a frozen server, and an alarm clock must never hang because the sound server does.
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
    default:
        return AudioError::ServerConnectionFailed;
    }
}

class LoopLock final
{
public:
    explicit LoopLock(pa_threaded_mainloop* loop)
        : m_loop(loop)
    {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

class PulseOutput final : public ISoundOutput
{
public:
    explicit PulseOutput(const SoundOutputOptions& options)
        : m_options(options)
        , m_loop(pa_threaded_mainloop_new())
    {
        if (m_loop && pa_threaded_mainloop_start(m_loop) == 0)
            m_loopRunning = true;
    }

    ~PulseOutput() override
    {
        if (!m_loop)
            return;
        if (m_loopRunning) {
            {
                LoopLock lock(m_loop);
                StopLocked();
                DropContextLocked();
            }
            pa_threaded_mainloop_stop(m_loop);
        }
        pa_threaded_mainloop_free(m_loop);
    }

    int Connect() override
    {
        if (!m_loopRunning)
            return AudioError::AudioSystemFailed;
        LoopLock lock(m_loop);
        return ConnectLocked();
    }

    int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        if (!m_loopRunning)
            return AudioError::AudioSystemFailed;
        LoopLock lock(m_loop);
        StopLocked();
        m_lastError = AudioError::None;
        if (const int error = ConnectLocked())
            return error;

        const SoundFormat format = decoder->Format();
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_FLOAT32NE;
        sampleFormat.rate = static_cast<std::uint32_t>(format.sampleRate);
        sampleFormat.channels = static_cast<std::uint8_t>(format.channels);
        pa_channel_map map{};
        if (format.channels > static_cast<int>(PA_CHANNELS_MAX) || !pa_sample_spec_valid(&sampleFormat) ||
            !pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT))
            return AudioError::StreamCreateFailed;
        m_stream = pa_stream_new(m_context, "Alarm sound", &sampleFormat, &map);
        if (!m_stream)
            return AudioError::StreamCreateFailed;

        m_decoder = std::move(decoder);
        m_frameBytes = pa_frame_size(&sampleFormat);
        m_repeat = loop;
        m_endOfSound = false;
        m_readSinceRewind = false;
        m_active = true;
        pa_stream_set_state_callback(m_stream, &PulseOutput::OnStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseOutput::OnWrite, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(m_options.bufferLength.count()) * PA_USEC_PER_MSEC, &sampleFormat));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
            StopLocked();
            return AudioError::StreamConnectFailed;
        }
        const bool settled = WaitLocked(
            [this] {
                const pa_stream_state_t state = pa_stream_get_state(m_stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            m_options.connectTimeout);
        if (settled && pa_stream_get_state(m_stream) == PA_STREAM_READY)
            return AudioError::None;
        int error = AudioError::StreamTimeout;
        if (!ContextUsable())
            error = AudioError::ServerLost;
        else if (settled)
            error = AudioError::StreamConnectFailed;
        StopLocked();
        return error;
    }

    bool IsActive() const override { return m_active; }
    int LastError() const override { return m_lastError; }

    void Stop() override
    {
        if (!m_loopRunning)
            return;
        LoopLock lock(m_loop);
        StopLocked();
    }

private:
    bool ContextUsable() const { return m_context && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)); }

    // Waits (lock held, released while waiting) until done() holds or timeout has passed.
    template <class Done> bool WaitLocked(Done done, std::chrono::milliseconds timeout)
    {
        struct Alarm {
            pa_threaded_mainloop* loop;
            bool rang = false;
        } alarm{m_loop};
        pa_time_event* event = pa_context_rttime_new(
            m_context, pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
                auto* a = static_cast<Alarm*>(userdata);
                a->rang = true;
                pa_threaded_mainloop_signal(a->loop, 0);
            },
            &alarm);
        if (!event)
            return done();
        while (!done() && !alarm.rang)
            pa_threaded_mainloop_wait(m_loop);
        pa_threaded_mainloop_get_api(m_loop)->time_free(event);
        return done();
    }

    int ConnectLocked()
    {
        if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY)
            return AudioError::None;
        DropContextLocked();
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Larkbell");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "larkbell");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Larkbell", props);
        pa_proplist_free(props);
        if (!m_context)
            return AudioError::AudioSystemFailed;
        pa_context_set_state_callback(m_context, &PulseOutput::OnContextState, this);
        // No autospawn: starting a sound server is the desktop's business, and a spawn
        // attempt can take far longer than an alarm may wait.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            const int error = ErrorOfConnect(pa_context_errno(m_context));
            DropContextLocked();
            return error;
        }
        const bool settled = WaitLocked(
            [this] {
                const pa_context_state_t state = pa_context_get_state(m_context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            m_options.connectTimeout);
        if (!settled) {
            DropContextLocked();
            return AudioError::ServerTimeout;
        }
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY) {
            const int error = ErrorOfConnect(pa_context_errno(m_context));
            DropContextLocked();
            return error;
        }
        return AudioError::None;
    }

    void DropContextLocked()
    {
        if (!m_context)
            return;
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }

    void StopLocked()
    {
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
        m_active = false;
    }

    void FinishLocked(int error)
    {
        if (m_active && error != AudioError::None)
            m_lastError = error;
        m_active = false;
        pa_threaded_mainloop_signal(m_loop, 0);
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

    static void OnContextState(pa_context* context, void* userdata)
    {
        auto* self = static_cast<PulseOutput*>(userdata);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->FinishLocked(AudioError::ServerLost);
        pa_threaded_mainloop_signal(self->m_loop, 0);
    }

    static void OnStreamState(pa_stream* stream, void* userdata)
    {
        auto* self = static_cast<PulseOutput*>(userdata);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->FinishLocked(self->ContextUsable() ? AudioError::StreamFailed : AudioError::ServerLost);
        pa_threaded_mainloop_signal(self->m_loop, 0);
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
    pa_threaded_mainloop* m_loop;
    bool m_loopRunning = false;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_operation* m_drain = nullptr;
    std::unique_ptr<ISoundDecoder> m_decoder;
    std::size_t m_frameBytes = 0;
    bool m_repeat = false;
    bool m_endOfSound = false;
    bool m_readSinceRewind = false; // guards looping over a file that yields no frames
    std::atomic<bool> m_active{false};
    std::atomic<int> m_lastError{AudioError::None};
};

} // namespace

std::unique_ptr<ISoundOutput> CreateSoundOutput(const SoundOutputOptions& options)
{
    return std::make_unique<PulseOutput>(options);
}
