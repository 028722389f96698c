#include "platform/VolumeBackends.h"
#include "platform/linux/PulseConnection.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

// The default sink of a PulseAudio (or PipeWire pulse) server. Every request waits a bounded time, so a
// frozen server makes the operation fail instead of hanging; the caller runs these on a worker thread.
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{2000};
constexpr std::chrono::milliseconds kRequestTimeout{1000};

struct SinkState {
    bool found = false;
    pa_cvolume volume{};
    bool muted = false;
};

struct ServerState {
    std::string defaultSink;
};

struct Ack {
    bool success = false;
};

void OnAck(pa_context*, int success, void* userdata)
{
    static_cast<Ack*>(userdata)->success = success != 0;
}

class PulseVolumeEndpoint final : public IVolumeEndpoint
{
public:
    PulseVolumeEndpoint()
        : m_connection("Larkbell volume")
    {}

    ~PulseVolumeEndpoint() override { m_connection.Shutdown(); }

    bool Acquire() override
    {
        if (!m_connection.Running())
            return false;
        PulseConnection::Lock lock(m_connection);
        m_sink.clear();
        if (!m_connection.ConnectAndWaitLocked(kConnectTimeout))
            return false;
        ServerState server;
        const bool answered =
            m_connection.RequestLocked(pa_context_get_server_info(
                                           m_connection.ContextLocked(),
                                           [](pa_context*, const pa_server_info* info, void* userdata) {
                                               auto* state = static_cast<ServerState*>(userdata);
                                               if (info && info->default_sink_name)
                                                   state->defaultSink = info->default_sink_name;
                                           },
                                           &server),
                                       kRequestTimeout);
        if (!answered || server.defaultSink.empty())
            return false;
        m_sink = server.defaultSink;
        return true;
    }

    std::optional<double> GetScalar() override
    {
        const std::optional<SinkState> sink = ReadSink(m_sink);
        if (!sink)
            return std::nullopt;
        return static_cast<double>(pa_cvolume_max(&sink->volume)) / PA_VOLUME_NORM;
    }

    bool SetScalar(double scalar) override
    {
        const std::optional<SinkState> sink = ReadSink(m_sink);
        if (!sink)
            return false;
        const auto target = static_cast<pa_volume_t>(std::lround(std::max(0.0, scalar) * PA_VOLUME_NORM));
        pa_cvolume volume = sink->volume;
        if (pa_cvolume_max(&volume) == PA_VOLUME_MUTED)
            pa_cvolume_set(&volume, volume.channels, target); // no balance left to keep
        else
            pa_cvolume_scale(&volume, target);
        return WriteVolume(m_sink, volume);
    }

    std::optional<bool> GetMute() override
    {
        const std::optional<SinkState> sink = ReadSink(m_sink);
        if (!sink)
            return std::nullopt;
        return sink->muted;
    }

    bool SetMute(bool muted) override { return WriteMute(m_sink, muted); }

    std::optional<SavedVolume> SaveVolume() override
    {
        const std::optional<SinkState> sink = ReadSink(m_sink);
        if (!sink)
            return std::nullopt;
        SavedVolume saved;
        saved.device = m_sink;
        saved.channels.assign(sink->volume.values, sink->volume.values + sink->volume.channels);
        saved.scalar = static_cast<double>(pa_cvolume_max(&sink->volume)) / PA_VOLUME_NORM;
        saved.muted = sink->muted;
        return saved;
    }

    bool RestoreVolume(const SavedVolume& saved) override
    {
        // The sink the volume was read from, even when the default has moved on since: that is the one the
        // alarm changed.
        const std::string& sink = saved.device.empty() ? m_sink : saved.device;
        if (saved.channels.empty() || saved.channels.size() > PA_CHANNELS_MAX)
            return IVolumeEndpoint::RestoreVolume(saved);
        pa_cvolume volume{};
        volume.channels = static_cast<std::uint8_t>(saved.channels.size());
        std::copy(saved.channels.begin(), saved.channels.end(), volume.values);
        if (!pa_cvolume_valid(&volume))
            return false;
        const bool volumeSet = WriteVolume(sink, volume);
        const bool muteSet = WriteMute(sink, saved.muted);
        return volumeSet && muteSet;
    }

    void Abandon() override { m_connection.Abandon(); }

private:
    // Reads and writes reuse the connection Acquire made; a dropped one is made again here, so that a
    // restore after a server hiccup still lands.
    bool ConnectedLocked() { return m_connection.ConnectAndWaitLocked(kConnectTimeout); }

    std::optional<SinkState> ReadSink(const std::string& name)
    {
        if (!m_connection.Running() || name.empty())
            return std::nullopt;
        PulseConnection::Lock lock(m_connection);
        if (!ConnectedLocked())
            return std::nullopt;
        SinkState sink;
        const bool answered =
            m_connection.RequestLocked(pa_context_get_sink_info_by_name(
                                           m_connection.ContextLocked(), name.c_str(),
                                           [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
                                               auto* state = static_cast<SinkState*>(userdata);
                                               if (eol == 0 && info) {
                                                   state->found = true;
                                                   state->volume = info->volume;
                                                   state->muted = info->mute != 0;
                                               }
                                           },
                                           &sink),
                                       kRequestTimeout);
        if (!answered || !sink.found)
            return std::nullopt;
        return sink;
    }

    bool WriteVolume(const std::string& name, const pa_cvolume& volume)
    {
        if (!m_connection.Running() || name.empty())
            return false;
        PulseConnection::Lock lock(m_connection);
        if (!ConnectedLocked())
            return false;
        Ack ack;
        const bool answered = m_connection.RequestLocked(
            pa_context_set_sink_volume_by_name(m_connection.ContextLocked(), name.c_str(), &volume, &OnAck, &ack),
            kRequestTimeout);
        return answered && ack.success;
    }

    bool WriteMute(const std::string& name, bool muted)
    {
        if (!m_connection.Running() || name.empty())
            return false;
        PulseConnection::Lock lock(m_connection);
        if (!ConnectedLocked())
            return false;
        Ack ack;
        const bool answered = m_connection.RequestLocked(
            pa_context_set_sink_mute_by_name(m_connection.ContextLocked(), name.c_str(), muted ? 1 : 0, &OnAck, &ack),
            kRequestTimeout);
        return answered && ack.success;
    }

    PulseConnection m_connection;
    std::string m_sink; // name of the default sink found by the last Acquire
};

} // namespace

std::unique_ptr<IVolumeEndpoint> CreateSystemVolumeEndpoint()
{
    return std::make_unique<PulseVolumeEndpoint>();
}
