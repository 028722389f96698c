#include "platform/VolumeBackends.h"
#include "platform/linux/AlsaLibrary.h"

#include <memory>

// The "Master" control of the first sound card's mixer: the path used when no sound server
// answers. The card's own mixer is opened rather than the library's default device, because
// the default is often routed to the sound server, which is exactly what is missing here, and
// reaching it through the library's plug-in could wait on a server that does not answer.
namespace {

constexpr const char* kCard = "hw:0";
constexpr const char* kControl = "Master";

class AlsaVolumeMixer final : public IVolumeMixer
{
public:
    AlsaVolumeMixer() = default;
    ~AlsaVolumeMixer() override
    {
        if (m_mixer)
            m_alsa->snd_mixer_close(m_mixer);
    }

    bool Open() override
    {
        if (m_element)
            return true;
        m_alsa = Alsa();
        if (!m_alsa)
            return false;
        if (m_alsa->snd_mixer_open(&m_mixer, 0) < 0) {
            m_mixer = nullptr;
            return false;
        }
        if (m_alsa->snd_mixer_attach(m_mixer, kCard) < 0 ||
            m_alsa->snd_mixer_selem_register(m_mixer, nullptr, nullptr) < 0 || m_alsa->snd_mixer_load(m_mixer) < 0) {
            m_alsa->snd_mixer_close(m_mixer);
            m_mixer = nullptr;
            return false;
        }
        m_element = FindControl();
        long minimum = 0;
        long maximum = 0;
        if (!m_element || !m_alsa->snd_mixer_selem_has_playback_volume(m_element) ||
            m_alsa->snd_mixer_selem_get_playback_volume_range(m_element, &minimum, &maximum) < 0 ||
            maximum <= minimum) {
            m_element = nullptr;
            m_alsa->snd_mixer_close(m_mixer);
            m_mixer = nullptr;
            return false;
        }
        // Percent arithmetic works on unsigned units; a range starting below zero is shifted.
        m_offset = minimum < 0 ? -minimum : 0;
        m_minimum = static_cast<std::uint32_t>(minimum + m_offset);
        m_maximum = static_cast<std::uint32_t>(maximum + m_offset);
        m_channel =
            m_alsa->snd_mixer_selem_is_playback_mono(m_element) ? SND_MIXER_SCHN_MONO : SND_MIXER_SCHN_FRONT_LEFT;
        return true;
    }

    std::uint32_t Minimum() const override { return m_minimum; }
    std::uint32_t Maximum() const override { return m_maximum; }

    std::optional<std::uint32_t> GetValue() override
    {
        if (!m_element)
            return std::nullopt;
        m_alsa->snd_mixer_handle_events(m_mixer); // pick up changes other programs made
        long value = 0;
        if (m_alsa->snd_mixer_selem_get_playback_volume(m_element, m_channel, &value) < 0)
            return std::nullopt;
        return static_cast<std::uint32_t>(value + m_offset);
    }

    bool SetValue(std::uint32_t value) override
    {
        return m_element &&
               m_alsa->snd_mixer_selem_set_playback_volume_all(m_element, static_cast<long>(value) - m_offset) >= 0;
    }

    std::optional<std::uint32_t> GetMuteValue() override
    {
        if (!m_element || !m_alsa->snd_mixer_selem_has_playback_switch(m_element))
            return std::nullopt;
        m_alsa->snd_mixer_handle_events(m_mixer);
        int on = 0; // the switch is "sound on", the inverse of mute
        if (m_alsa->snd_mixer_selem_get_playback_switch(m_element, m_channel, &on) < 0)
            return std::nullopt;
        return on ? 0u : 1u;
    }

    bool SetMuteValue(std::uint32_t value) override
    {
        return m_element && m_alsa->snd_mixer_selem_has_playback_switch(m_element) &&
               m_alsa->snd_mixer_selem_set_playback_switch_all(m_element, value ? 0 : 1) >= 0;
    }

private:
    snd_mixer_elem_t* FindControl()
    {
        snd_mixer_selem_id_t* id = nullptr;
        if (m_alsa->snd_mixer_selem_id_malloc(&id) < 0)
            return nullptr;
        const std::unique_ptr<snd_mixer_selem_id_t, decltype(m_alsa->snd_mixer_selem_id_free)> owner(
            id, m_alsa->snd_mixer_selem_id_free);
        m_alsa->snd_mixer_selem_id_set_index(id, 0);
        m_alsa->snd_mixer_selem_id_set_name(id, kControl);
        return m_alsa->snd_mixer_find_selem(m_mixer, id);
    }

    const AlsaLibrary* m_alsa = nullptr;
    snd_mixer_t* m_mixer = nullptr;
    snd_mixer_elem_t* m_element = nullptr;
    snd_mixer_selem_channel_id_t m_channel = SND_MIXER_SCHN_FRONT_LEFT;
    long m_offset = 0;
    std::uint32_t m_minimum = 0;
    std::uint32_t m_maximum = 0;
};

} // namespace

std::unique_ptr<IVolumeMixer> CreateSystemVolumeMixer()
{
    return std::make_unique<AlsaVolumeMixer>();
}
