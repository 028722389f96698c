#include "audio/alsa/AlsaOutput.h"

#include "audio/AudioErrors.h"
#include "platform/linux/AlsaLibrary.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr unsigned kLatencyUs = 200000;
// Plug-ins such as null or file take samples as fast as they come; the writer keeps this far ahead of the
// clock at most, as a card would make it.
constexpr std::chrono::milliseconds kMaxAhead{250};
// A new stream waits this long at most for the previous one to let go of the device.
constexpr std::chrono::milliseconds kHandOver{1000};
// At exit the stream gets this long to close the device.
constexpr std::chrono::milliseconds kCloseAtExit{300};

std::int16_t ToSample(float value)
{
    const float clamped = std::clamp(value, -1.0F, 1.0F);
    return static_cast<std::int16_t>(std::lround(clamped * 32767.0F));
}

/** One Play: the thread that runs it owns it together with the output, so either may go first. */
class Stream
{
public:
    Stream(std::unique_ptr<ISoundDecoder> decoder, bool loop, std::vector<std::string> devices,
           std::shared_ptr<Stream> previous)
        : m_decoder(std::move(decoder))
        , m_loop(loop)
        , m_devices(std::move(devices))
        , m_previous(std::move(previous))
    {}

    void Run()
    {
        if (m_previous) {
            m_previous->WaitClosed(kHandOver);
            m_previous.reset();
        }
        // Loaded here, on the stream's own thread, so that no caller waits for the library.
        m_alsa = Alsa();
        snd_pcm_t* pcm = m_alsa ? OpenDevice() : nullptr;
        if (!pcm) {
            Finish(AudioError::DeviceOpenFailed);
            return;
        }
        const int error = WriteAll(pcm);
        if (error == AudioError::None && !m_stop)
            m_alsa->snd_pcm_drain(pcm);
        else
            m_alsa->snd_pcm_drop(pcm);
        m_alsa->snd_pcm_close(pcm);
        Finish(error);
    }

    void RequestStop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_active = false;
        m_wake.notify_all();
    }

    bool WaitClosed(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_wake.wait_for(lock, limit, [this] { return m_closed; });
    }

    bool Active() const { return m_active; }
    bool Started() const { return m_started; }
    int Error() const { return m_error; }

private:
    snd_pcm_t* OpenDevice()
    {
        const SoundFormat format = m_decoder->Format();
        for (const std::string& name : m_devices) {
            if (m_stop)
                return nullptr;
            snd_pcm_t* pcm = nullptr;
            // Without NONBLOCK the open of a busy card waits until it is free, which may be never.
            if (m_alsa->snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
                continue;
            if (m_alsa->snd_pcm_nonblock(pcm, 0) == 0 &&
                m_alsa->snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                           static_cast<unsigned>(format.channels),
                                           static_cast<unsigned>(format.sampleRate), 1, kLatencyUs) == 0)
                return pcm;
            m_alsa->snd_pcm_close(pcm);
        }
        return nullptr;
    }

    int WriteAll(snd_pcm_t* pcm)
    {
        const SoundFormat format = m_decoder->Format();
        const auto channels = static_cast<std::size_t>(format.channels);
        const auto chunk = static_cast<std::int64_t>(std::max(format.sampleRate / 20, 64));
        std::vector<float> decoded(static_cast<std::size_t>(chunk) * channels);
        std::vector<std::int16_t> samples(decoded.size());
        const auto begin = std::chrono::steady_clock::now();
        std::int64_t written = 0;
        bool readSinceRewind = false;
        while (!m_stop) {
            const std::int64_t got = m_decoder->Read(decoded.data(), chunk);
            if (got <= 0) {
                // Loop by seeking back; a file that gives nothing after a rewind ends instead of spinning.
                if (m_loop && readSinceRewind && m_decoder->Rewind()) {
                    readSinceRewind = false;
                    continue;
                }
                return AudioError::None;
            }
            readSinceRewind = true;
            std::transform(decoded.begin(),
                           decoded.begin() + static_cast<std::ptrdiff_t>(got) * static_cast<std::ptrdiff_t>(channels),
                           samples.begin(), ToSample);
            const std::int16_t* next = samples.data();
            auto left = static_cast<snd_pcm_uframes_t>(got);
            while (left > 0 && !m_stop) {
                snd_pcm_sframes_t done = m_alsa->snd_pcm_writei(pcm, next, left);
                if (done == -EAGAIN)
                    continue;
                if (done < 0) {
                    // An underrun or a resume after sleep is recovered; anything else ends the sound.
                    if (m_alsa->snd_pcm_recover(pcm, static_cast<int>(done), 1) < 0)
                        return m_started ? AudioError::DeviceFailed : AudioError::DeviceOpenFailed;
                    continue;
                }
                next += static_cast<std::size_t>(done) * channels;
                left -= static_cast<snd_pcm_uframes_t>(done);
                written += done;
                m_started = true;
            }
            PaceTo(begin, written, format.sampleRate);
        }
        return AudioError::None;
    }

    void PaceTo(std::chrono::steady_clock::time_point begin, std::int64_t frames, int rate)
    {
        const auto played = std::chrono::milliseconds(frames * 1000 / rate);
        const auto ahead =
            played - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        if (ahead <= kMaxAhead)
            return;
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, ahead - kMaxAhead, [this] { return m_stop.load(); });
    }

    void Finish(int error)
    {
        if (!m_stop)
            m_error = error;
        m_active = false;
        {
            const std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_wake.notify_all();
    }

    std::unique_ptr<ISoundDecoder> m_decoder;
    bool m_loop;
    std::vector<std::string> m_devices;
    std::shared_ptr<Stream> m_previous; // its device is closed before this one opens it
    const AlsaLibrary* m_alsa = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_closed = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_active{true};
    std::atomic<bool> m_started{false};
    std::atomic<int> m_error{AudioError::None};
};

class AlsaOutput final : public ISoundOutput
{
public:
    explicit AlsaOutput(std::vector<std::string> devices)
        : m_devices(std::move(devices))
    {}

    ~AlsaOutput() override
    {
        if (!m_stream)
            return;
        m_stream->RequestStop();
        m_stream->WaitClosed(kCloseAtExit);
    }

    void SetConnectListener(ConnectListener listener) override { m_listener = std::move(listener); }

    int Connect() override
    {
        // There is nothing to connect to: whether a device opens is known only when a sound plays.
        if (m_listener)
            m_listener(AudioError::None);
        return AudioError::None;
    }

    int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) override
    {
        Stop();
        const SoundFormat format = decoder->Format();
        if (format.channels < 1 || format.channels > 8 || format.sampleRate <= 0)
            return AudioError::StreamCreateFailed;
        if (m_devices.empty())
            return AudioError::DeviceOpenFailed;
        m_stream = std::make_shared<Stream>(std::move(decoder), loop, m_devices, m_stream);
        try {
            std::thread([stream = m_stream] { stream->Run(); }).detach();
        } catch (const std::system_error&) {
            m_stream.reset();
            return AudioError::AudioSystemFailed;
        }
        return AudioError::None;
    }

    bool IsActive() const override { return m_stream && m_stream->Active(); }
    bool HasStarted() const override { return m_stream && m_stream->Started(); }
    int LastError() const override { return m_stream ? m_stream->Error() : AudioError::None; }

    void Stop() override
    {
        if (m_stream)
            m_stream->RequestStop();
    }

private:
    std::vector<std::string> m_devices;
    ConnectListener m_listener;
    std::shared_ptr<Stream> m_stream; // the current or the last stream
};

} // namespace

std::vector<std::string> AlsaDeviceNames()
{
    const char* wanted = std::getenv("LARKBELL_ALSA_DEVICE");
    if (wanted && *wanted)
        return {wanted};
    return {"default", "plughw:0", "hw:0"};
}

std::unique_ptr<ISoundOutput> CreateAlsaOutput(std::vector<std::string> devices)
{
    return std::make_unique<AlsaOutput>(std::move(devices));
}

std::unique_ptr<ISoundOutput> CreateFallbackSoundOutput()
{
    return CreateAlsaOutput();
}
