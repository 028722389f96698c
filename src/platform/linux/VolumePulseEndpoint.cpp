#include "VolumeBackends.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

// The default sink of a PulseAudio (or PipeWire pulse) server. Every request waits a bounded
// time: a frozen server makes the operation fail instead of hanging the alarm.
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{2000};
constexpr std::chrono::milliseconds kRequestTimeout{1000};

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

struct SinkState {
    pa_threaded_mainloop* loop = nullptr;
    bool found = false;
    pa_cvolume volume{};
    bool muted = false;
};

struct ServerState {
    pa_threaded_mainloop* loop = nullptr;
    std::string defaultSink;
};

struct Ack {
    pa_threaded_mainloop* loop = nullptr;
    bool success = false;
};

class PulseVolumeEndpoint final : public IVolumeEndpoint
{
public:
    PulseVolumeEndpoint()
        : m_loop(pa_threaded_mainloop_new())
    {
        if (m_loop && pa_threaded_mainloop_start(m_loop) == 0)
            m_loopRunning = true;
    }

    ~PulseVolumeEndpoint() override
    {
        if (!m_loop)
            return;
        if (m_loopRunning) {
            {
                LoopLock lock(m_loop);
                DropContextLocked();
            }
            pa_threaded_mainloop_stop(m_loop);
        }
        pa_threaded_mainloop_free(m_loop);
    }

    bool Acquire() override
    {
        if (!m_loopRunning)
            return false;
        LoopLock lock(m_loop);
        m_sink.clear();
        if (!ConnectLocked())
            return false;
        ServerState server{m_loop, {}};
        const bool answered = RequestLocked(pa_context_get_server_info(
            m_context,
            [](pa_context*, const pa_server_info* info, void* userdata) {
                auto* state = static_cast<ServerState*>(userdata);
                if (info && info->default_sink_name)
                    state->defaultSink = info->default_sink_name;
                pa_threaded_mainloop_signal(state->loop, 0);
            },
            &server));
        if (!answered || server.defaultSink.empty())
            return false;
        m_sink = server.defaultSink;
        return true;
    }

    std::optional<double> GetScalar() override
    {
        const std::optional<SinkState> sink = ReadSink();
        if (!sink)
            return std::nullopt;
        return static_cast<double>(pa_cvolume_max(&sink->volume)) / PA_VOLUME_NORM;
    }

    bool SetScalar(double scalar) override
    {
        std::optional<SinkState> sink = ReadSink();
        if (!sink)
            return false;
        const auto target = static_cast<pa_volume_t>(std::lround(std::max(0.0, scalar) * PA_VOLUME_NORM));
        pa_cvolume volume = sink->volume;
        if (pa_cvolume_max(&volume) == PA_VOLUME_MUTED)
            pa_cvolume_set(&volume, volume.channels, target); // no balance left to keep
        else
            pa_cvolume_scale(&volume, target);
        LoopLock lock(m_loop);
        if (!ContextReady())
            return false;
        Ack ack{m_loop};
        const bool answered =
            RequestLocked(pa_context_set_sink_volume_by_name(m_context, m_sink.c_str(), &volume, &OnAck, &ack));
        return answered && ack.success;
    }

    std::optional<bool> GetMute() override
    {
        const std::optional<SinkState> sink = ReadSink();
        if (!sink)
            return std::nullopt;
        return sink->muted;
    }

    bool SetMute(bool muted) override
    {
        if (!m_loopRunning)
            return false;
        LoopLock lock(m_loop);
        if (!ContextReady() || m_sink.empty())
            return false;
        Ack ack{m_loop};
        const bool answered =
            RequestLocked(pa_context_set_sink_mute_by_name(m_context, m_sink.c_str(), muted ? 1 : 0, &OnAck, &ack));
        return answered && ack.success;
    }

private:
    static void OnAck(pa_context*, int success, void* userdata)
    {
        auto* ack = static_cast<Ack*>(userdata);
        ack->success = success != 0;
        pa_threaded_mainloop_signal(ack->loop, 0);
    }

    std::optional<SinkState> ReadSink()
    {
        if (!m_loopRunning)
            return std::nullopt;
        LoopLock lock(m_loop);
        if (!ContextReady() || m_sink.empty())
            return std::nullopt;
        SinkState sink{m_loop};
        const bool answered = RequestLocked(pa_context_get_sink_info_by_name(
            m_context, m_sink.c_str(),
            [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
                auto* state = static_cast<SinkState*>(userdata);
                if (eol == 0 && info) {
                    state->found = true;
                    state->volume = info->volume;
                    state->muted = info->mute != 0;
                }
                pa_threaded_mainloop_signal(state->loop, 0);
            },
            &sink));
        if (!answered || !sink.found)
            return std::nullopt;
        return sink;
    }

    bool ContextReady() const { return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY; }

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

    // Runs one request to its end; a server that does not answer in time is dropped, so the
    // next call connects afresh instead of queueing behind a request that will never finish.
    bool RequestLocked(pa_operation* operation)
    {
        if (!operation)
            return false;
        const bool finished = WaitLocked(
            [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, kRequestTimeout);
        const bool done = finished && pa_operation_get_state(operation) == PA_OPERATION_DONE;
        if (!finished)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!finished)
            DropContextLocked();
        return done;
    }

    bool ConnectLocked()
    {
        if (ContextReady())
            return true;
        DropContextLocked();
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Larkbell");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "larkbell");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Larkbell volume", props);
        pa_proplist_free(props);
        if (!m_context)
            return false;
        pa_context_set_state_callback(
            m_context,
            [](pa_context*, void* userdata) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
            },
            m_loop);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            DropContextLocked();
            return false;
        }
        WaitLocked(
            [this] {
                const pa_context_state_t state = pa_context_get_state(m_context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            kConnectTimeout);
        if (ContextReady())
            return true;
        DropContextLocked();
        return false;
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

    pa_threaded_mainloop* m_loop;
    bool m_loopRunning = false;
    pa_context* m_context = nullptr;
    std::string m_sink; // name of the default sink found by the last Acquire
};

} // namespace

std::unique_ptr<IVolumeEndpoint> CreateSystemVolumeEndpoint()
{
    return std::make_unique<PulseVolumeEndpoint>();
}
