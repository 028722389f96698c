#pragma once

#include "VolumeBackends.h"

#include <cstdint>
#include <memory>

/**
 * The master output volume in percent, as alarms, the sound player's save and restore and the
 * editor's preview set it. Two paths: the sound server's default output (the endpoint; used
 * whenever a server answers) and the hardware mixer (used when none does). Reads give 0 / false
 * and changes do nothing while neither is available.
 */
class TVolumeSetForm final
{
public:
    /** Either back end may be empty. */
    TVolumeSetForm(std::unique_ptr<IVolumeEndpoint> endpoint, std::unique_ptr<IVolumeMixer> mixer);
    TVolumeSetForm(const TVolumeSetForm&) = delete;
    TVolumeSetForm& operator=(const TVolumeSetForm&) = delete;

    /** Current master volume 0..100; 0 when unavailable or the read fails. */
    unsigned GetVolume();
    /** Current mute state; false when unavailable or the read fails. */
    bool GetMute();
    /** 100 and above mean 100 (through VolumeUp), 0 means 0 (through VolumeDown). */
    void SetVolume(unsigned percent);
    void SetMute(bool muted);
    /** Raises by percent (1..100, else ignored), at most to 100. */
    void VolumeUp(unsigned percent);
    /** Lowers by percent (1..100, else ignored), at least to 0. */
    void VolumeDown(unsigned percent);

    bool Available() const { return m_available; }
    /** True when the last operation went through the sound server rather than the mixer. */
    bool UsesEndpoint() const { return m_useEndpoint; }
    /** Mixer units per percent. */
    std::uint32_t Step() const { return m_step; }

private:
    void Acquire();
    bool ReadVolume();
    bool ReadMute();
    void WriteMixerValue(std::uint32_t value);
    void SetEndpointPercent(unsigned percent);

    std::unique_ptr<IVolumeEndpoint> m_endpoint;
    std::unique_ptr<IVolumeMixer> m_mixer;
    bool m_mixerFound = false;
    bool m_available = false;
    bool m_useEndpoint = false;
    unsigned m_volume = 0;          // last known master volume, percent
    bool m_muted = false;           // last known mute state
    std::uint32_t m_mixerValue = 0; // last read or written mixer volume value
    std::uint32_t m_minimum = 0;
    std::uint32_t m_maximum = 0;
    std::uint32_t m_step = 0;
};
