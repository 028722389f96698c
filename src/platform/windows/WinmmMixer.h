#pragma once

#include "platform/VolumeBackends.h"

#include <windows.h>

#include <mmsystem.h>

/**
 * The master volume on the legacy winmm mixer: device 0's speakers destination line, its volume control
 * (read and written as one value for all channels) and its mute control.
 */
class WinmmMixer final : public IVolumeMixer
{
public:
    WinmmMixer() = default;
    ~WinmmMixer() override;

    bool Open() override;
    std::uint32_t Minimum() const override { return m_minimum; }
    std::uint32_t Maximum() const override { return m_maximum; }
    std::optional<std::uint32_t> GetValue() override;
    bool SetValue(std::uint32_t value) override;
    std::optional<std::uint32_t> GetMuteValue() override;
    bool SetMuteValue(std::uint32_t value) override;

private:
    std::optional<std::uint32_t> readControl(DWORD control);
    bool writeControl(DWORD control, std::uint32_t value);

    HMIXER m_mixer = nullptr;
    bool m_open = false;
    DWORD m_volumeControl = 0;
    std::optional<DWORD> m_muteControl;
    std::uint32_t m_minimum = 0;
    std::uint32_t m_maximum = 0;
};
